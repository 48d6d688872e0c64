<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>ApplicationChooser</name>
    <message>
        <source>Select an Application</source>
        <translation>Programm auswählen</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>%1 (running)</source>
        <translation>%1 (läuft)</translation>
    </message>
    <message>
        <source>Other…</source>
        <translation>Anderes …</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
</context>
<context>
    <name>CorvimusPane</name>
    <message>
        <source>Click</source>
        <translation>Klick</translation>
    </message>
    <message>
        <source>Special key</source>
        <translation>Sonderfunktion</translation>
    </message>
    <message>
        <source>Scroll</source>
        <translation>Rollen</translation>
    </message>
    <message>
        <source>Settings for:</source>
        <translation>Einstellungen für:</translation>
    </message>
    <message>
        <source>All applications</source>
        <translation>Alle Programme</translation>
    </message>
    <message>
        <source>Add…</source>
        <translation>Hinzufügen …</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Turn off for this application</source>
        <translation>Für dieses Programm ausschalten</translation>
    </message>
    <message>
        <source>Action</source>
        <translation>Aktion</translation>
    </message>
    <message>
        <source>Keys held while clicking:</source>
        <translation>Beim Klicken gehaltene Tasten:</translation>
    </message>
    <message>
        <source>Click here, then press the keys</source>
        <translation>Hier klicken, dann die Tasten drücken</translation>
    </message>
    <message>
        <source>Keystroke:</source>
        <translation>Tastendruck:</translation>
    </message>
    <message>
        <source>More keys</source>
        <translation>Weitere Tasten</translation>
    </message>
    <message>
        <source>1 line</source>
        <translation>1 Zeile</translation>
    </message>
    <message>
        <source>1 page</source>
        <translation>1 Seite</translation>
    </message>
    <message>
        <source>To the end</source>
        <translation>Bis zum Ende</translation>
    </message>
    <message>
        <source>%1 lines</source>
        <translation>%1 Zeilen</translation>
    </message>
    <message>
        <source>Direction:</source>
        <translation>Richtung:</translation>
    </message>
    <message>
        <source>Amount:</source>
        <translation>Weite:</translation>
    </message>
    <message>
        <source>Choose…</source>
        <translation>Auswählen …</translation>
    </message>
    <message>
        <source>Buttons</source>
        <translation>Tasten</translation>
    </message>
    <message>
        <source>Custom tracking speed</source>
        <translation>Eigene Zeigergeschwindigkeit</translation>
    </message>
    <message>
        <source>Custom acceleration</source>
        <translation>Eigene Beschleunigung</translation>
    </message>
    <message>
        <source>Slow</source>
        <translation>Langsam</translation>
    </message>
    <message>
        <source>Fast</source>
        <translation>Schnell</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message>
        <source>Strong</source>
        <translation>Stark</translation>
    </message>
    <message>
        <source>Tracking</source>
        <translation>Zeiger</translation>
    </message>
    <message>
        <source>Revert</source>
        <translation>Zurücksetzen</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Anwenden</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Asking the agent…</source>
        <translation>Der Agent wird gefragt …</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Mouse Buttons %1</source>
        <translation>Maustasten %1</translation>
    </message>
    <message>
        <source>Agent (CorvimusHelper):</source>
        <translation>Agent (CorvimusHelper):</translation>
    </message>
    <message>
        <source>Driver:</source>
        <translation>Treiber:</translation>
    </message>
    <message>
        <source>Mice:</source>
        <translation>Mäuse:</translation>
    </message>
    <message>
        <source>Bluetooth mice:</source>
        <translation>Bluetooth-Mäuse:</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
    <message>
        <source>Application in front:</source>
        <translation>Programm im Vordergrund:</translation>
    </message>
    <message>
        <source>Settings in force:</source>
        <translation>Geltende Einstellungen:</translation>
    </message>
    <message>
        <source>Help with Bluetooth mice</source>
        <translation>Hilfe zu Bluetooth-Mäusen</translation>
    </message>
    <message>
        <source>Visit the web site</source>
        <translation>Zur Website</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>The left button clicks again. One of the left, right and middle buttons must always click, or nothing could be clicked any more.</source>
        <translation>Die linke Taste klickt wieder. Eine der linken, rechten und mittleren Tasten muss immer klicken, sonst ließe sich nichts mehr anklicken.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>The left button clicks again</source>
        <translation>Die linke Taste klickt wieder</translation>
    </message>
    <message>
        <source>Mouse Buttons</source>
        <translation>Maustasten</translation>
    </message>
    <message>
        <source>Select an Application</source>
        <translation>Programm auswählen</translation>
    </message>
    <message>
        <source>Applications (*.app *.desktop)</source>
        <translation>Programme (*.app *.desktop)</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Remove the settings for %1? %1 then follows the settings for all applications.</source>
        <translation>Die Einstellungen für %1 entfernen? %1 folgt dann den Einstellungen für alle Programme.</translation>
    </message>
    <message>
        <source>Remove the settings for %1</source>
        <translation>Einstellungen für %1 entfernen</translation>
    </message>
    <message>
        <source>Choose the item to open</source>
        <translation>Zu öffnendes Objekt auswählen</translation>
    </message>
    <message>
        <source>Running, but it does not answer</source>
        <translation>Läuft, antwortet aber nicht</translation>
    </message>
    <message>
        <source>Not running: the settings reach no mouse</source>
        <translation>Läuft nicht: die Einstellungen erreichen keine Maus</translation>
    </message>
    <message>
        <source>Unknown while the agent does not answer</source>
        <translation>Unbekannt, solange der Agent nicht antwortet</translation>
    </message>
    <message>
        <source>Running</source>
        <translation>Läuft</translation>
    </message>
    <message>
        <source>Running, version %1</source>
        <translation>Läuft, Version %1</translation>
    </message>
    <message>
        <source>corvimusd (the system service) and the simulated driver both run</source>
        <translation>corvimusd (der Systemdienst) und der simulierte Treiber laufen beide</translation>
    </message>
    <message>
        <source>corvimusd, the system service, runs</source>
        <translation>corvimusd, der Systemdienst, läuft</translation>
    </message>
    <message>
        <source>The simulated driver runs: its mice are not real ones</source>
        <translation>Der simulierte Treiber läuft: seine Mäuse sind keine echten</translation>
    </message>
    <message>
        <source>Not running: no mouse is remapped</source>
        <translation>Läuft nicht: keine Maus wird umbelegt</translation>
    </message>
    <message>
        <source>Mouse %1</source>
        <translation>Maus %1</translation>
    </message>
    <message>
        <source>another link</source>
        <translation>andere Verbindung</translation>
    </message>
    <message>
        <source>%1, %2</source>
        <translation>%1, %2</translation>
    </message>
    <message>
        <source> (simulated)</source>
        <translation> (simuliert)</translation>
    </message>
    <message>
        <source> (corvimusd)</source>
        <translation> (corvimusd)</translation>
    </message>
    <message>
        <source>None connected</source>
        <translation>Keine angeschlossen</translation>
    </message>
    <message>
        <source>None known yet</source>
        <translation>Noch keines bekannt</translation>
    </message>
    <message>
        <source>Its own settings (%1)</source>
        <translation>Seine eigenen Einstellungen (%1)</translation>
    </message>
    <message>
        <source>The settings for all applications</source>
        <translation>Die Einstellungen für alle Programme</translation>
    </message>
    <message>
        <source>None: the button tester is in front, so the buttons are reported, not remapped</source>
        <translation>Keine: der Maustasten-Test ist im Vordergrund, daher werden die Tasten gemeldet, nicht umbelegt</translation>
    </message>
    <message>
        <source>The built-in defaults: every button does what it always did</source>
        <translation>Die eingebauten Vorgaben: jede Taste tut, was sie immer tat</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>Einschalten</translation>
    </message>
    <message>
        <source>The settings were not saved.</source>
        <translation>Die Einstellungen wurden nicht gesichert.</translation>
    </message>
    <message>
        <source>The settings file could not be read (%1), so nothing is saved: saving would replace the settings it holds. Make it readable again, then press Revert to read it.</source>
        <translation>Die Einstellungsdatei konnte nicht gelesen werden (%1), deshalb wird nichts gesichert: Sichern würde die Einstellungen darin ersetzen. Machen Sie sie wieder lesbar und klicken Sie dann auf „Zurücksetzen“, um sie zu lesen.</translation>
    </message>
    <message>
        <source>The settings file is read-only. Make it writable to save changes.</source>
        <translation>Die Einstellungsdatei ist schreibgeschützt. Heben Sie den Schreibschutz auf, um Änderungen zu sichern.</translation>
    </message>
    <message>
        <source>The settings file could not be written (%1).</source>
        <translation>Die Einstellungsdatei konnte nicht geschrieben werden (%1).</translation>
    </message>
    <message>
        <source>Damaged settings (%1)</source>
        <translation>Beschädigte Einstellungen (%1)</translation>
    </message>
    <message>
        <source>Settings do not follow the front application: the Corvimus extension of GNOME Shell is not enabled.</source>
        <translation>Die Einstellungen folgen nicht dem Programm im Vordergrund: Die Corvimus-Erweiterung der GNOME Shell ist nicht eingeschaltet.</translation>
    </message>
    <message>
        <source>No desktop session: the settings for all applications are in force.</source>
        <translation>Keine Desktop-Sitzung: Es gelten die Einstellungen für alle Programme.</translation>
    </message>
    <message>
        <source>The front application comes from %1.</source>
        <translation>Das Programm im Vordergrund wird über %1 ermittelt.</translation>
    </message>
    <message>
        <source>GNOME Shell could not enable the Corvimus extension; log out and back in, then try again.</source>
        <translation>Die GNOME Shell konnte die Corvimus-Erweiterung nicht einschalten. Melden Sie sich ab und wieder an und versuchen Sie es dann erneut.</translation>
    </message>
</context>
<context>
    <name>KeyLabels</name>
    <message>
        <source>Esc</source>
        <translation>Esc</translation>
    </message>
    <message>
        <source>Tab</source>
        <translation>Tab</translation>
    </message>
    <message>
        <source>Return</source>
        <translation>Eingabe</translation>
    </message>
    <message>
        <source>Backspace</source>
        <translation>Rücktaste</translation>
    </message>
    <message>
        <source>Num Lock</source>
        <translation>Num</translation>
    </message>
    <message>
        <source>Keypad Enter</source>
        <translation>Ziffernblock Eingabe</translation>
    </message>
    <message>
        <source>Insert</source>
        <translation>Einfg</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Entf</translation>
    </message>
    <message>
        <source>Home</source>
        <translation>Pos1</translation>
    </message>
    <message>
        <source>End</source>
        <translation>Ende</translation>
    </message>
    <message>
        <source>Page Up</source>
        <translation>Bild auf</translation>
    </message>
    <message>
        <source>Page Down</source>
        <translation>Bild ab</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Links</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Rechts</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>Unten</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>Oben</translation>
    </message>
    <message>
        <source>Space</source>
        <translation>Leertaste</translation>
    </message>
    <message>
        <source>Key %1</source>
        <translation>Taste %1</translation>
    </message>
    <message>
        <source>Keypad %1</source>
        <translation>Ziffernblock %1</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>(keiner)</translation>
    </message>
</context>
</TS>

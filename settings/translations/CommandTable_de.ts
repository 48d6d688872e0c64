<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>CommandTable</name>
    <message>
        <source>Unchanged</source>
        <translation>Unverändert</translation>
    </message>
    <message>
        <source>Same as all applications</source>
        <translation>Wie für alle Programme</translation>
    </message>
    <message>
        <source>Scroll up</source>
        <translation>Nach oben rollen</translation>
    </message>
    <message>
        <source>Scroll down</source>
        <translation>Nach unten rollen</translation>
    </message>
    <message>
        <source>Scroll left</source>
        <translation>Nach links rollen</translation>
    </message>
    <message>
        <source>Scroll right</source>
        <translation>Nach rechts rollen</translation>
    </message>
    <message>
        <source>Scroll up by a page</source>
        <translation>Eine Seite nach oben</translation>
    </message>
    <message>
        <source>Scroll down by a page</source>
        <translation>Eine Seite nach unten</translation>
    </message>
    <message>
        <source>Scroll left by a page</source>
        <translation>Eine Seite nach links</translation>
    </message>
    <message>
        <source>Scroll right by a page</source>
        <translation>Eine Seite nach rechts</translation>
    </message>
    <message>
        <source>Scroll up to the end</source>
        <translation>Ganz nach oben</translation>
    </message>
    <message>
        <source>Scroll down to the end</source>
        <translation>Ganz nach unten</translation>
    </message>
    <message>
        <source>Scroll left to the end</source>
        <translation>Ganz nach links</translation>
    </message>
    <message>
        <source>Scroll right to the end</source>
        <translation>Ganz nach rechts</translation>
    </message>
    <message>
        <source>Precision pointer</source>
        <translation>Feiner Zeiger</translation>
    </message>
    <message>
        <source>Keystroke</source>
        <translation>Tastendruck</translation>
    </message>
    <message>
        <source>Open application</source>
        <translation>Programm öffnen</translation>
    </message>
    <message>
        <source>Open item</source>
        <translation>Objekt öffnen</translation>
    </message>
    <message>
        <source>Middle click</source>
        <translation>Mittelklick</translation>
    </message>
    <message>
        <source>Main click</source>
        <translation>Hauptklick</translation>
    </message>
    <message>
        <source>Secondary click</source>
        <translation>Zweitklick</translation>
    </message>
    <message>
        <source>Button 4 click</source>
        <translation>Klick mit Taste 4</translation>
    </message>
    <message>
        <source>Button 5 click</source>
        <translation>Klick mit Taste 5</translation>
    </message>
    <message>
        <source>Button 6 click</source>
        <translation>Klick mit Taste 6</translation>
    </message>
    <message>
        <source>Button 7 click</source>
        <translation>Klick mit Taste 7</translation>
    </message>
    <message>
        <source>Button 8 click</source>
        <translation>Klick mit Taste 8</translation>
    </message>
    <message>
        <source>Button 9 click</source>
        <translation>Klick mit Taste 9</translation>
    </message>
    <message>
        <source>Double click</source>
        <translation>Doppelklick</translation>
    </message>
    <message>
        <source>Triple click</source>
        <translation>Dreifachklick</translation>
    </message>
    <message>
        <source>Click and hold</source>
        <translation>Klicken und halten</translation>
    </message>
    <message>
        <source>All windows</source>
        <translation>Alle Fenster</translation>
    </message>
    <message>
        <source>Show desktop</source>
        <translation>Schreibtisch zeigen</translation>
    </message>
    <message>
        <source>Application windows</source>
        <translation>Fenster des Programms</translation>
    </message>
    <message>
        <source>Launcher</source>
        <translation>Programmstarter</translation>
    </message>
    <message>
        <source>Notifications</source>
        <translation>Benachrichtigungen</translation>
    </message>
    <message>
        <source>Next workspace</source>
        <translation>Nächste Arbeitsfläche</translation>
    </message>
    <message>
        <source>Switch application</source>
        <translation>Programm wechseln</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Rückgängig</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Ausschneiden</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Einfügen</translation>
    </message>
    <message>
        <source>Forward</source>
        <translation>Vorwärts</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Ctrl</source>
        <translation>Strg</translation>
    </message>
    <message>
        <source>Alt</source>
        <translation>Alt</translation>
    </message>
    <message>
        <source>Shift</source>
        <translation>Umschalt</translation>
    </message>
    <message>
        <source>Super</source>
        <translation>Super</translation>
    </message>
    <message>
        <source>Caps Lock</source>
        <translation>Feststelltaste</translation>
    </message>
    <message>
        <source>Space</source>
        <translation>Leertaste</translation>
    </message>
    <message>
        <source>Left button</source>
        <translation>Linke Taste</translation>
    </message>
    <message>
        <source>Right button</source>
        <translation>Rechte Taste</translation>
    </message>
    <message>
        <source>Middle button (wheel click)</source>
        <translation>Mittlere Taste (Radklick)</translation>
    </message>
    <message>
        <source>Button 4 (thumb, back)</source>
        <translation>Taste 4 (Daumen, zurück)</translation>
    </message>
    <message>
        <source>Button 5 (thumb, forward)</source>
        <translation>Taste 5 (Daumen, vorwärts)</translation>
    </message>
    <message>
        <source>Button 6</source>
        <translation>Taste 6</translation>
    </message>
    <message>
        <source>Button 7</source>
        <translation>Taste 7</translation>
    </message>
    <message>
        <source>Button 8</source>
        <translation>Taste 8</translation>
    </message>
    <message>
        <source>Wheel rolled up</source>
        <translation>Rad nach oben gedreht</translation>
    </message>
    <message>
        <source>Wheel rolled down</source>
        <translation>Rad nach unten gedreht</translation>
    </message>
    <message>
        <source>Wheel tilted left</source>
        <translation>Rad nach links geneigt</translation>
    </message>
    <message>
        <source>Wheel tilted right</source>
        <translation>Rad nach rechts geneigt</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>Nach oben</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>Nach unten</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Nach links</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Nach rechts</translation>
    </message>
</context>
</TS>

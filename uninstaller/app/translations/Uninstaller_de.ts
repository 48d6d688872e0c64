<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>Confirm</name>
    <message>
        <source>Corvimus Uninstaller</source>
        <translation>Corvimus entfernen</translation>
    </message>
    <message>
        <source>&lt;b&gt;Remove Corvimus?&lt;/b&gt;</source>
        <translation>&lt;b&gt;Corvimus entfernen?&lt;/b&gt;</translation>
    </message>
    <message>
        <source>This removes the Corvimus mouse driver, the Corvimus settings pane with its CorvimusHelper agent for every user, the installation receipts and finally this uninstaller.

CorvimusHelper and System Preferences are asked to quit first. You will be asked for an administrator password.</source>
        <translation>Dies entfernt den Corvimus-Maustreiber, die Corvimus-Einstellungen mit ihrem Agenten CorvimusHelper für alle Benutzer, die Installationsbelege und zuletzt dieses Programm selbst.

CorvimusHelper und die Systemeinstellungen werden zuerst gebeten, sich zu beenden. Sie werden nach einem Administratorpasswort gefragt.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>Entfernen</translation>
    </message>
</context>
<context>
    <name>Error</name>
    <message>
        <source>Corvimus Uninstaller</source>
        <translation>Corvimus entfernen</translation>
    </message>
    <message>
        <source>&lt;b&gt;Corvimus could not be removed&lt;/b&gt;</source>
        <translation>&lt;b&gt;Corvimus konnte nicht entfernt werden&lt;/b&gt;</translation>
    </message>
    <message>
        <source>The removal was cancelled or did not complete. Whatever was removed already stays removed; you can run the uninstaller again.</source>
        <translation>Das Entfernen wurde abgebrochen oder nicht abgeschlossen. Was schon entfernt wurde, bleibt entfernt; Sie können das Programm erneut starten.</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
</context>
<context>
    <name>Info</name>
    <message>
        <source>About Corvimus Uninstaller</source>
        <translation>Über Corvimus entfernen</translation>
    </message>
    <message>
        <source>&lt;b&gt;Corvimus Uninstaller&lt;/b&gt;</source>
        <translation>&lt;b&gt;Corvimus entfernen&lt;/b&gt;</translation>
    </message>
    <message>
        <source>Version 0.1

Removes the Corvimus mouse driver and everything that was installed with it.</source>
        <translation>Version 0.1

Entfernt den Corvimus-Maustreiber und alles, was mit ihm installiert wurde.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>Menus</name>
    <message>
        <source>Corvimus Uninstaller</source>
        <translation>Corvimus entfernen</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Ablage</translation>
    </message>
    <message>
        <source>About Corvimus Uninstaller</source>
        <translation>Über Corvimus entfernen</translation>
    </message>
    <message>
        <source>Quit Corvimus Uninstaller</source>
        <translation>Corvimus entfernen beenden</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>NotNeeded</name>
    <message>
        <source>Corvimus Uninstaller</source>
        <translation>Corvimus entfernen</translation>
    </message>
    <message>
        <source>&lt;b&gt;Corvimus is not installed&lt;/b&gt;</source>
        <translation>&lt;b&gt;Corvimus ist nicht installiert&lt;/b&gt;</translation>
    </message>
    <message>
        <source>The Corvimus mouse driver was not found on this computer, so there is nothing to remove.</source>
        <translation>Der Corvimus-Maustreiber wurde auf diesem Computer nicht gefunden; es gibt nichts zu entfernen.</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
</context>
<context>
    <name>Success</name>
    <message>
        <source>Corvimus Uninstaller</source>
        <translation>Corvimus entfernen</translation>
    </message>
    <message>
        <source>&lt;b&gt;Corvimus has been removed&lt;/b&gt;</source>
        <translation>&lt;b&gt;Corvimus wurde entfernt&lt;/b&gt;</translation>
    </message>
    <message>
        <source>Restart the computer to finish: the mouse driver stays in use until then.</source>
        <translation>Starten Sie den Computer neu, um abzuschließen: bis dahin bleibt der Maustreiber in Gebrauch.</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>Neu starten</translation>
    </message>
</context>
</TS>

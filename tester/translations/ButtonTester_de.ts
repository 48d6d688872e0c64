<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>ButtonTesterWindow</name>
    <message>
        <source>Mouse Button Tester</source>
        <translation>Maustasten-Test</translation>
    </message>
    <message>
        <source>Press the buttons of your mouse, roll and tilt its wheel: each lights up here with the name the settings give it. Nothing is remapped while this window is in front.</source>
        <translation>Drücken Sie die Tasten Ihrer Maus, drehen und neigen Sie ihr Rad: jede leuchtet hier mit dem Namen auf, den die Einstellungen ihr geben. Solange dieses Fenster im Vordergrund ist, wird nichts umbelegt.</translation>
    </message>
    <message>
        <source>Press a mouse button</source>
        <translation>Drücken Sie eine Maustaste</translation>
    </message>
    <message numerus="yes">
        <source>%n report(s) did not arrive</source>
        <translation>
            <numerusform>%n Meldung kam nicht an</numerusform>
            <numerusform>%n Meldungen kamen nicht an</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 pressed</source>
        <translation>%1 gedrückt</translation>
    </message>
    <message>
        <source>%1 released</source>
        <translation>%1 losgelassen</translation>
    </message>
    <message>
        <source>%1, %2 fine units</source>
        <translation>%1, %2 feine Schritte</translation>
    </message>
</context>
</TS>

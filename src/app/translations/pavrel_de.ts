<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Action</name>
    <message>
        <source>No Action</source>
        <translation>Keine Aktion</translation>
    </message>
    <message>
        <source>Mouse Up</source>
        <translation>Maustaste los</translation>
    </message>
    <message>
        <source>Mouse Down</source>
        <translation>Maustaste gedrückt</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Minimieren</translation>
    </message>
    <message>
        <source>Next Window</source>
        <translation>Nächstes Fenster</translation>
    </message>
    <message>
        <source>Undefined</source>
        <translation>Unbestimmt</translation>
    </message>
</context>
<context>
    <name>Autostart</name>
    <message>
        <source>The autostart entry %1 cannot be removed</source>
        <translation>Der Autostart-Eintrag %1 lässt sich nicht entfernen</translation>
    </message>
    <message>
        <source>The folder of the autostart entry %1 cannot be made</source>
        <translation>Der Ordner des Autostart-Eintrags %1 lässt sich nicht anlegen</translation>
    </message>
    <message>
        <source>The autostart entry %1 cannot be written: %2</source>
        <translation>Der Autostart-Eintrag %1 lässt sich nicht schreiben: %2</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Drive the mouse pointer with one hand in front of a camera.</source>
        <translation>Den Mauszeiger mit einer Hand vor einer Kamera steuern.</translation>
    </message>
    <message>
        <source>Open the source used last and start tracking after a grace period (what the autostart entry of Configuration &gt; Start with my session runs).</source>
        <translation>Die zuletzt verwendete Quelle öffnen und die Verfolgung nach einer Wartezeit starten (das führt der Autostart-Eintrag von Konfiguration &gt; Mit meiner Sitzung starten aus).</translation>
    </message>
    <message>
        <source>The grace period of --start-tracking in seconds, 0 to %1 (default %2).</source>
        <translation>Die Wartezeit von --start-tracking in Sekunden, 0 bis %1 (Vorgabe %2).</translation>
    </message>
    <message>
        <source>seconds</source>
        <translation>Sekunden</translation>
    </message>
    <message>
        <source>The desktop backend: auto (chosen from the session), x11, portal, wlroots or uinput.</source>
        <translation>Die Desktop-Anbindung: auto (aus der Sitzung gewählt), x11, portal, wlroots oder uinput.</translation>
    </message>
    <message>
        <source>name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Start or stop tracking in the running Pavrel.</source>
        <translation>Die Verfolgung im laufenden Pavrel starten oder beenden.</translation>
    </message>
    <message>
        <source>Switch dwell click on or off in the running Pavrel.</source>
        <translation>Den Verweilklick im laufenden Pavrel ein- oder ausschalten.</translation>
    </message>
</context>
<context>
    <name>pavrel::TAboutDialog</name>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Product Name</source>
        <translation>Produktname</translation>
    </message>
    <message>
        <source>Thesis Version</source>
        <translation>Version der Abschlussarbeit</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>pavrel::TConfigurationDialog</name>
    <message>
        <source>Tracker Settings</source>
        <translation>Tracker-Einstellungen</translation>
    </message>
    <message>
        <source>Hue Thresholds</source>
        <translation>Farbton-Schwellen</translation>
    </message>
    <message>
        <source>Low</source>
        <translation>Niedrig</translation>
    </message>
    <message>
        <source>High</source>
        <translation>Hoch</translation>
    </message>
    <message>
        <source>Saturation Thresholds</source>
        <translation>Sättigungs-Schwellen</translation>
    </message>
    <message>
        <source>Mean Threshold</source>
        <translation>Mittelwert-Schwelle</translation>
    </message>
    <message>
        <source>Window Expansion</source>
        <translation>Fenstererweiterung</translation>
    </message>
    <message>
        <source>Height To Width Ratio</source>
        <translation>Verhältnis Höhe zu Breite</translation>
    </message>
    <message>
        <source>Lose Track Area</source>
        <translation>Fläche für Spurverlust</translation>
    </message>
    <message>
        <source>Value Thresholds</source>
        <translation>Helligkeits-Schwellen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>pavrel::TMainDialog</name>
    <message>
        <source>Video</source>
        <translation>Video</translation>
    </message>
    <message>
        <source>Raw Video Stream</source>
        <translation>Rohes Videobild</translation>
    </message>
    <message>
        <source>Rendered Video Stream</source>
        <translation>Verarbeitetes Videobild</translation>
    </message>
    <message>
        <source>Mouse Action</source>
        <translation>Mausaktion</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Open Settings...</source>
        <translation>Einstellungen öffnen...</translation>
    </message>
    <message>
        <source>Save Settings...</source>
        <translation>Einstellungen speichern...</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Tracker</source>
        <translation>Tracker</translation>
    </message>
    <message>
        <source>Start Tracking</source>
        <translation>Verfolgung starten</translation>
    </message>
    <message>
        <source>Stop Tracking</source>
        <translation>Verfolgung beenden</translation>
    </message>
    <message>
        <source>Configuration</source>
        <translation>Konfiguration</translation>
    </message>
    <message>
        <source>Adjust Tracker Parameters...</source>
        <translation>Tracker-Parameter anpassen...</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Quelle</translation>
    </message>
    <message>
        <source>Stop Video</source>
        <translation>Video anhalten</translation>
    </message>
    <message>
        <source>File...</source>
        <translation>Datei...</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Save Frame To Bitmap...</source>
        <translation>Bild als Bitmap speichern...</translation>
    </message>
    <message>
        <source>RGB Video</source>
        <translation>RGB-Video</translation>
    </message>
    <message>
        <source>Hue Video</source>
        <translation>Farbton-Video</translation>
    </message>
    <message>
        <source>Back Projection Video</source>
        <translation>Rückprojektions-Video</translation>
    </message>
    <message>
        <source>On Screen Display</source>
        <translation>Bildschirmanzeige</translation>
    </message>
    <message>
        <source>A video frame could not be processed: %1</source>
        <translation>Ein Videobild konnte nicht verarbeitet werden: %1</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Unbekannter Fehler</translation>
    </message>
    <message>
        <source>Pavrel configuration files (*.pvl *.PVL)</source>
        <translation>Pavrel-Konfigurationsdateien (*.pvl *.PVL)</translation>
    </message>
    <message>
        <source>Pavrel files (*.pvl *.PVL)</source>
        <translation>Pavrel-Dateien (*.pvl *.PVL)</translation>
    </message>
    <message>
        <source>Pointer actions are not available: %1
Tracking runs and shows the recognised actions, but the pointer and the windows are left alone.</source>
        <translation>Zeigeraktionen sind nicht verfügbar: %1
Die Verfolgung läuft und zeigt die erkannten Aktionen, aber Zeiger und Fenster bleiben unberührt.</translation>
    </message>
    <message>
        <source>Video Files (*)</source>
        <translation>Videodateien (*)</translation>
    </message>
    <message>
        <source>Start with my session</source>
        <translation>Mit meiner Sitzung starten</translation>
    </message>
    <message>
        <source>No source is remembered to start tracking from. Choose a camera or a file in the Source menu.</source>
        <translation>Es ist keine Quelle gespeichert, mit der die Verfolgung starten könnte. Wählen Sie eine Kamera oder eine Datei im Menü Quelle.</translation>
    </message>
    <message>
        <source>The last source, %1, cannot be opened: %2</source>
        <translation>Die zuletzt verwendete Quelle, %1, lässt sich nicht öffnen: %2</translation>
    </message>
    <message>
        <source>no such camera is connected</source>
        <translation>diese Kamera ist nicht angeschlossen</translation>
    </message>
    <message>
        <source>the store names no file or camera</source>
        <translation>der Speicher nennt keine Datei und keine Kamera</translation>
    </message>
    <message numerus="yes">
        <source>Pavrel - tracking starts in %n s</source>
        <translation>
            <numerusform>Pavrel - Verfolgung startet in %n s</numerusform>
            <numerusform>Pavrel - Verfolgung startet in %n s</numerusform>
        </translation>
    </message>
    <message>
        <source>Calibrate Hand</source>
        <translation>Hand kalibrieren</translation>
    </message>
    <message>
        <source>The source to start with cannot be remembered: %1</source>
        <translation>Die Quelle für den Start lässt sich nicht speichern: %1</translation>
    </message>
    <message>
        <source>No hand found: click your palm</source>
        <translation>Keine Hand gefunden: Handfläche anklicken</translation>
    </message>
    <message>
        <source>Hold your open hand up %1</source>
        <translation>Offene Hand hochhalten %1</translation>
    </message>
</context>
<context>
    <name>pavrel::TStopTrackingDialog</name>
    <message>
        <source>Stop Tracking</source>
        <translation>Verfolgung beenden</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>TovraMainWindow</name>
    <message>
        <location filename="../../ui/tovramainwindow.ui" line="0"/>
        <source>Starting TOVRA VPN...</source>
        <translation>TOVRA VPN wird gestartet...</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="nl">
<context>
    <name>TovraMainWindow</name>
    <message>
        <location filename="../../ui/tovramainwindow.ui" line="0"/>
        <source>Starting TOVRA VPN...</source>
        <translation>TOVRA VPN wordt gestart...</translation>
    </message>
</context>
<context>
    <name>TovraSettingsDialog</name>
    <message>
        <source>SETTINGS</source>
        <translation>INSTELLINGEN</translation>
    </message>
    <message>
        <source>GENERAL</source>
        <translation>ALGEMEEN</translation>
    </message>
    <message>
        <source>INTERFACE LANGUAGE</source>
        <translation>TAAL VAN DE INTERFACE</translation>
    </message>
    <message>
        <source>Your current TOVRA VPN language is:</source>
        <translation>Uw huidige taal van TOVRA VPN is:</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Toepassen</translation>
    </message>
    <message>
        <source>Minimize to systemtray (do not close)</source>
        <translation>Minimaliseren naar systeemvak (niet sluiten)</translation>
    </message>
    <message>
        <source>Give me a reminder when not connected while
TOVRA VPN is minimized to tray
(every 15 minutes)</source>
        <translation>Herinner mij als er geen verbinding is terwijl
TOVRA VPN naar het systeemvak is geminimaliseerd
(elke 15 minuten)</translation>
    </message>
    <message>
        <source>Start TOVRA VPN at Windows login</source>
        <translation>TOVRA VPN starten bij aanmelden in Windows</translation>
    </message>
    <message>
        <source>CONNECTION</source>
        <translation>VERBINDING</translation>
    </message>
    <message>
        <source>Connect to VPN automatically</source>
        <translation>Automatisch verbinden met VPN</translation>
    </message>
    <message>
        <source>Connect to your favorite server from the list</source>
        <translation>Verbinden met uw favoriete server uit de lijst</translation>
    </message>
    <message>
        <source>Connect to the nearest server based on my
location</source>
        <translation>Verbinden met de dichtstbijzijnde server op basis van mijn
locatie</translation>
    </message>
    <message>
        <source>Enable smart server list</source>
        <translation>Slimme serverlijst inschakelen</translation>
    </message>
    <message>
        <source>Enable Kill Switch</source>
        <translation>Kill Switch inschakelen</translation>
    </message>
    <message>
        <source>Enable DNS leak prevention</source>
        <translation>DNS-lekpreventie inschakelen</translation>
    </message>
    <message>
        <source>PROTOCOL</source>
        <translation>PROTOCOL</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Can we help you?</source>
        <translation>Kunnen we u helpen?</translation>
    </message>
    <message>
        <source>Have you seen our FAQ?</source>
        <translation>Heeft u onze FAQ al gezien?</translation>
    </message>
    <message>
        <source>Support Ticket</source>
        <translation>Supportticket</translation>
    </message>
    <message>
        <source>Send debug data directly to our support team:</source>
        <translation>Stuur diagnosegegevens direct naar ons supportteam:</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Versturen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuleren</translation>
    </message>
    <message>
        <source>LOGOUT</source>
        <translation>AFMELDEN</translation>
    </message>
    <message>
        <source>Upgrade now &gt;</source>
        <translation>Nu upgraden &gt;</translation>
    </message>
    <message>
        <source>cancel</source>
        <translation>annuleren</translation>
    </message>
    <message>
        <source>SAVE</source>
        <translation>OPSLAAN</translation>
    </message>
    <message>
        <source>logged in with Facebook</source>
        <translation>aangemeld met Facebook</translation>
    </message>
    <message>
        <source>logged in with Google</source>
        <translation>aangemeld met Google</translation>
    </message>
    <message>
        <source>English</source>
        <translation>Engels</translation>
    </message>
    <message>
        <source>Dutch</source>
        <translation>Nederlands</translation>
    </message>
    <message>
        <source>German</source>
        <translation>Duits</translation>
    </message>
    <message>
        <source>Collection of debug data is in progress.</source>
        <translation>Diagnosegegevens worden verzameld.</translation>
    </message>
    <message>
        <source>Please wait until it's finished.</source>
        <translation>Wacht tot dit klaar is.</translation>
    </message>
    <message>
        <source>You have adjusted your settings.</source>
        <translation>U heeft uw instellingen aangepast.</translation>
    </message>
    <message>
        <source>Do you want to save these?</source>
        <translation>Wilt u deze opslaan?</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>ANNULEREN</translation>
    </message>
    <message>
        <source>Are you sure you want to logout?</source>
        <translation>Weet u zeker dat u zich wilt afmelden?</translation>
    </message>
    <message>
        <source>You will be prompted to enter your login details again.</source>
        <translation>U wordt gevraagd uw inloggegevens opnieuw in te voeren.</translation>
    </message>
    <message>
        <source>Collecting debug data...%1%</source>
        <translation>Diagnosegegevens verzamelen...%1%</translation>
    </message>
    <message>
        <source>Cancelling support ticket...</source>
        <translation>Supportticket wordt geannuleerd...</translation>
    </message>
    <message>
        <source>Support ticket has been created.</source>
        <translation>Het supportticket is aangemaakt.</translation>
    </message>
    <message>
        <source>Support ticket error has occurred, please contact support.</source>
        <translation>Er is een fout opgetreden bij het supportticket, neem contact op met support.</translation>
    </message>
</context>
</TS>

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
<context>
    <name>TovraSettingsDialog</name>
    <message>
        <source>SETTINGS</source>
        <translation>EINSTELLUNGEN</translation>
    </message>
    <message>
        <source>GENERAL</source>
        <translation>ALLGEMEIN</translation>
    </message>
    <message>
        <source>INTERFACE LANGUAGE</source>
        <translation>SPRACHE DER OBERFLÄCHE</translation>
    </message>
    <message>
        <source>Your current TOVRA VPN language is:</source>
        <translation>Ihre aktuelle Sprache von TOVRA VPN ist:</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Anwenden</translation>
    </message>
    <message>
        <source>Minimize to systemtray (do not close)</source>
        <translation>In den Infobereich minimieren (nicht schließen)</translation>
    </message>
    <message>
        <source>Give me a reminder when not connected while
TOVRA VPN is minimized to tray
(every 15 minutes)</source>
        <translation>Erinnern, wenn keine Verbindung besteht, während
TOVRA VPN im Infobereich minimiert ist
(alle 15 Minuten)</translation>
    </message>
    <message>
        <source>Start TOVRA VPN at Windows login</source>
        <translation>TOVRA VPN bei der Windows-Anmeldung starten</translation>
    </message>
    <message>
        <source>CONNECTION</source>
        <translation>VERBINDUNG</translation>
    </message>
    <message>
        <source>Connect to VPN automatically</source>
        <translation>Automatisch mit dem VPN verbinden</translation>
    </message>
    <message>
        <source>Connect to your favorite server from the list</source>
        <translation>Mit Ihrem Lieblingsserver aus der Liste verbinden</translation>
    </message>
    <message>
        <source>Connect to the nearest server based on my
location</source>
        <translation>Mit dem nächstgelegenen Server anhand meines
Standorts verbinden</translation>
    </message>
    <message>
        <source>Enable smart server list</source>
        <translation>Intelligente Serverliste aktivieren</translation>
    </message>
    <message>
        <source>Automatically uses the best available server in the 
selected country, if this is disabled a full server list 
will be displayed.</source>
        <translation>Verwendet automatisch den besten verfügbaren Server im 
gewählten Land; ist dies deaktiviert, wird die vollständige 
Serverliste angezeigt.</translation>
    </message>
    <message>
        <source>Enable Kill Switch</source>
        <translation>Kill Switch aktivieren</translation>
    </message>
    <message>
        <source>Automatically stops internet access if the VPN is suddenly disconnected. Access is restored on successfully connecting back to the VPN network or after closing TOVRA VPN.
Note: If you are unable to restore the connection, please restart your computer.</source>
        <translation>Sperrt den Internetzugang automatisch, wenn das VPN plötzlich getrennt wird. Der Zugang wird wiederhergestellt, sobald die Verbindung zum VPN-Netz wieder besteht oder TOVRA VPN geschlossen wird.
Hinweis: Wenn sich die Verbindung nicht wiederherstellen lässt, starten Sie bitte Ihren Computer neu.</translation>
    </message>
    <message>
        <source>Enable DNS leak prevention</source>
        <translation>Schutz vor DNS-Lecks aktivieren</translation>
    </message>
    <message>
        <source>Use the DNS servers of TOVRA VPN to prevent DNS leaks.</source>
        <translation>Die DNS-Server von TOVRA VPN verwenden, um DNS-Lecks zu verhindern.</translation>
    </message>
    <message>
        <source>PROTOCOL</source>
        <translation>PROTOKOLL</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Automatically applies the best protocol available
for your device and the selected server.</source>
        <translation>Verwendet automatisch das beste verfügbare Protokoll
für Ihr Gerät und den gewählten Server.</translation>
    </message>
    <message>
        <source>High security and fastest speed. Compatible with 
newer devices.</source>
        <translation>Hohe Sicherheit und höchste Geschwindigkeit. Kompatibel mit 
neueren Geräten.</translation>
    </message>
    <message>
        <source>Medium security, normal speed. Supports many 
devices.</source>
        <translation>Mittlere Sicherheit, normale Geschwindigkeit. Unterstützt viele 
Geräte.</translation>
    </message>
    <message>
        <source>Low security, high speed. Works almost on all 
devices.</source>
        <translation>Geringe Sicherheit, hohe Geschwindigkeit. Funktioniert auf fast allen 
Geräten.</translation>
    </message>
    <message>
        <source>Practically indistinguishable from standard HTTPS data traffic
(can be masked/obfuscated) but is slower.</source>
        <translation>Praktisch nicht von normalem HTTPS-Datenverkehr zu unterscheiden
(kann verschleiert werden), aber langsamer.</translation>
    </message>
    <message>
        <source>FAQ/SUPPORT</source>
        <translation>FAQ/SUPPORT</translation>
    </message>
    <message>
        <source>Can we help you?</source>
        <translation>Können wir Ihnen helfen?</translation>
    </message>
    <message>
        <source>Have you seen our FAQ?</source>
        <translation>Kennen Sie schon unsere FAQ?</translation>
    </message>
    <message>
        <source>&lt;a href="faq" style="color: #f08d22;"&gt;Read the answers to frequent questions&lt;/a&gt;</source>
        <translation>&lt;a href="faq" style="color: #f08d22;"&gt;Antworten auf häufige Fragen lesen&lt;/a&gt;</translation>
    </message>
    <message>
        <source>Support Ticket</source>
        <translation>Support-Ticket</translation>
    </message>
    <message>
        <source>Send debug data directly to our support team:</source>
        <translation>Diagnosedaten direkt an unser Support-Team senden:</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>LOGOUT</source>
        <translation>ABMELDEN</translation>
    </message>
    <message>
        <source>Upgrade now &gt;</source>
        <translation>Jetzt upgraden &gt;</translation>
    </message>
    <message>
        <source>Give your friends 30% discount and earn money</source>
        <translation>Schenken Sie Ihren Freunden 30 % Rabatt und verdienen Sie Geld</translation>
    </message>
    <message>
        <source>Get € 10 &gt;</source>
        <translation>10 € erhalten &gt;</translation>
    </message>
    <message>
        <source>cancel</source>
        <translation>abbrechen</translation>
    </message>
    <message>
        <source>SAVE</source>
        <translation>SPEICHERN</translation>
    </message>
    <message>
        <source>Enable smart server list (You have to be
disconnected)</source>
        <translation>Intelligente Serverliste aktivieren (Sie müssen
getrennt sein)</translation>
    </message>
    <message>
        <source>logged in with Facebook</source>
        <translation>mit Facebook angemeldet</translation>
    </message>
    <message>
        <source>logged in with Google</source>
        <translation>mit Google angemeldet</translation>
    </message>
    <message>
        <source>Enjoy TOVRA VPN product? Upgrade your trial!</source>
        <translation>Gefällt Ihnen TOVRA VPN? Testversion upgraden!</translation>
    </message>
    <message>
        <source>Enjoy unlimited data? Upgrade now!</source>
        <translation>Unbegrenztes Datenvolumen? Jetzt upgraden!</translation>
    </message>
    <message>
        <source>Save money using our Annual Subscription!</source>
        <translation>Sparen Sie mit unserem Jahresabonnement!</translation>
    </message>
    <message>
        <source>English</source>
        <translation>Englisch</translation>
    </message>
    <message>
        <source>Dutch</source>
        <translation>Niederländisch</translation>
    </message>
    <message>
        <source>German</source>
        <translation>Deutsch</translation>
    </message>
    <message>
        <source>Collection of debug data is in progress.</source>
        <translation>Diagnosedaten werden gesammelt.</translation>
    </message>
    <message>
        <source>Please wait until it's finished.</source>
        <translation>Bitte warten Sie, bis der Vorgang abgeschlossen ist.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>You have adjusted your settings.</source>
        <translation>Sie haben Ihre Einstellungen geändert.</translation>
    </message>
    <message>
        <source>Do you want to save these?</source>
        <translation>Möchten Sie sie speichern?</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>ABBRECHEN</translation>
    </message>
    <message>
        <source>Are you sure you want to logout?</source>
        <translation>Möchten Sie sich wirklich abmelden?</translation>
    </message>
    <message>
        <source>You will be prompted to enter your login details again.</source>
        <translation>Sie werden aufgefordert, Ihre Anmeldedaten erneut einzugeben.</translation>
    </message>
    <message>
        <source>Collecting debug data...%1%</source>
        <translation>Diagnosedaten werden gesammelt...%1%</translation>
    </message>
    <message>
        <source>Cancelling support ticket...</source>
        <translation>Support-Ticket wird abgebrochen...</translation>
    </message>
    <message>
        <source>Support ticket has been created.</source>
        <translation>Das Support-Ticket wurde erstellt.</translation>
    </message>
    <message>
        <source>Support ticket error has occurred, please contact support.</source>
        <translation>Beim Support-Ticket ist ein Fehler aufgetreten, bitte wenden Sie sich an den Support.</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>TovraAccountDialog</name>
    <message>
        <source>TOVRA VPN</source>
        <translation>TOVRA VPN</translation>
    </message>
    <message>
        <source>ACCOUNT</source>
        <translation>KONTO</translation>
    </message>
    <message>
        <source>TRAFFIC LIMIT:</source>
        <translation>DATENLIMIT:</translation>
    </message>
    <message>
        <source>GO TO TOVRA VPN PORTAL</source>
        <translation>ZUM TOVRA VPN-PORTAL</translation>
    </message>
    <message>
        <source>LOGOUT</source>
        <translation>ABMELDEN</translation>
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
        <source>UNLIMITED</source>
        <translation>UNBEGRENZT</translation>
    </message>
    <message>
        <source>Your current traffic plan is unlimited</source>
        <translation>Ihr aktueller Datentarif ist unbegrenzt</translation>
    </message>
    <message>
        <source>%1 traffic left</source>
        <translation>Noch %1 Datenvolumen übrig</translation>
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
        <source>CANCEL</source>
        <translation>ABBRECHEN</translation>
    </message>
</context>
<context>
    <name>TovraGenericDialog</name>
    <message>
        <source>TOVRA VPN</source>
        <translation>TOVRA VPN</translation>
    </message>
</context>
<context>
    <name>TovraMainWindow</name>
    <message>
        <source>Starting TOVRA VPN...</source>
        <translation>TOVRA VPN wird gestartet...</translation>
    </message>
    <message>
        <source>TOVRA VPN</source>
        <translation>TOVRA VPN</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;supportTicketLink&quot; style=&quot;color: #5b7178;&quot;&gt;Send support ticket&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;supportTicketLink&quot; style=&quot;color: #5b7178;&quot;&gt;Support-Ticket senden&lt;/a&gt;</translation>
    </message>
    <message>
        <source>LOGIN WITH FACEBOOK</source>
        <translation>MIT FACEBOOK ANMELDEN</translation>
    </message>
    <message>
        <source>LOGIN WITH GOOGLE</source>
        <translation>MIT GOOGLE ANMELDEN</translation>
    </message>
    <message>
        <source>OR</source>
        <translation>ODER</translation>
    </message>
    <message>
        <source>Email address</source>
        <translation>E-Mail-Adresse</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>LOGIN</source>
        <translation>ANMELDEN</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;forgotPasswordLink&quot; style=&quot;color: #a2afbe;&quot;&gt;Forgot your password?&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;forgotPasswordLink&quot; style=&quot;color: #a2afbe;&quot;&gt;Passwort vergessen?&lt;/a&gt;</translation>
    </message>
    <message>
        <source>Don&apos;t have an account?</source>
        <translation>Noch kein Konto?</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;signupLink&quot; style=&quot;color: #a2afbe;&quot;&gt;Sign up&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;signupLink&quot; style=&quot;color: #a2afbe;&quot;&gt;Registrieren&lt;/a&gt;</translation>
    </message>
    <message>
        <source>FORGOT YOUR PASSWORD?</source>
        <translation>PASSWORT VERGESSEN?</translation>
    </message>
    <message>
        <source>Forgot your password? Enter your email address below to begin the reset process.</source>
        <translation>Passwort vergessen? Geben Sie unten Ihre E-Mail-Adresse ein, um das Zurücksetzen zu starten.</translation>
    </message>
    <message>
        <source>Enter your email</source>
        <translation>Ihre E-Mail-Adresse</translation>
    </message>
    <message>
        <source>REQUEST NEW PASSWORD</source>
        <translation>NEUES PASSWORT ANFORDERN</translation>
    </message>
    <message>
        <source>Account</source>
        <translation>Konto</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>CONNECTION</source>
        <translation>VERBINDUNG</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Business servers</source>
        <translation>Business-Server</translation>
    </message>
    <message>
        <source>Other servers</source>
        <translation>Andere Server</translation>
    </message>
    <message>
        <source>KILL SWITCH</source>
        <translation>KILL SWITCH</translation>
    </message>
    <message>
        <source>Check for updates</source>
        <translation>Nach Updates suchen</translation>
    </message>
    <message>
        <source>TOVRA VPN Windows service could not start.</source>
        <translation>Der Windows-Dienst von TOVRA VPN konnte nicht gestartet werden.</translation>
    </message>
    <message>
        <source>Kill Switch and DNS leak prevention is disabled. Please restart your PC to try again or contact support.</source>
        <translation>Kill Switch und DNS-Leak-Schutz sind deaktiviert. Bitte starten Sie Ihren PC neu, um es erneut zu versuchen, oder wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>VPN Protocol</source>
        <translation>VPN-Protokoll</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Your traffic limit has been reached.</source>
        <translation>Ihr Datenlimit ist erreicht.</translation>
    </message>
    <message>
        <source>Need more data?
UPGRADE your subscription.</source>
        <translation>Mehr Daten nötig?
Führen Sie ein UPGRADE Ihres Abos durch.</translation>
    </message>
    <message>
        <source>UPGRADE</source>
        <translation>UPGRADE</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>Verbindung wird hergestellt</translation>
    </message>
    <message>
        <source>This server is fully loaded.</source>
        <translation>Dieser Server ist voll ausgelastet.</translation>
    </message>
    <message>
        <source>Try again later or try another server.</source>
        <translation>Versuchen Sie es später erneut oder wählen Sie einen anderen Server.</translation>
    </message>
    <message>
        <source>Your connection is %1secured%2</source>
        <translation>Ihre Verbindung ist %1gesichert%2</translation>
    </message>
    <message>
        <source>The VPN secured connection has started</source>
        <translation>Die gesicherte VPN-Verbindung wurde hergestellt</translation>
    </message>
    <message>
        <source>Kill Switch Setup Failed.</source>
        <translation>Einrichten des Kill Switch fehlgeschlagen.</translation>
    </message>
    <message>
        <source>This option will be disabled. Please restart your PC to try again or contact support.</source>
        <translation>Diese Option wird deaktiviert. Bitte starten Sie Ihren PC neu, um es erneut zu versuchen, oder wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>Setup of DNS leak prevention failed.</source>
        <translation>Einrichten des DNS-Leak-Schutzes fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Your connection is %1not secured%2</source>
        <translation>Ihre Verbindung ist %1nicht gesichert%2</translation>
    </message>
    <message>
        <source>You no longer have a secured connection with VPN</source>
        <translation>Sie haben keine gesicherte VPN-Verbindung mehr</translation>
    </message>
    <message>
        <source>This server is unavailable.</source>
        <translation>Dieser Server ist nicht verfügbar.</translation>
    </message>
    <message>
        <source>Try again later or contact support.</source>
        <translation>Versuchen Sie es später erneut oder wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>IP error occurred.</source>
        <translation>Ein IP-Fehler ist aufgetreten.</translation>
    </message>
    <message>
        <source>Select another server and try again or contact support.</source>
        <translation>Wählen Sie einen anderen Server und versuchen Sie es erneut, oder wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>An OpenVPN error occurred.</source>
        <translation>Ein OpenVPN-Fehler ist aufgetreten.</translation>
    </message>
    <message>
        <source>Restart and try again or contact support.</source>
        <translation>Starten Sie neu und versuchen Sie es erneut, oder wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>An IKEv2 connection error occurred.</source>
        <translation>Ein IKEv2-Verbindungsfehler ist aufgetreten.</translation>
    </message>
    <message>
        <source>A server error occurred.</source>
        <translation>Ein Serverfehler ist aufgetreten.</translation>
    </message>
    <message>
        <source>Try to connect again or contact support.</source>
        <translation>Versuchen Sie erneut, eine Verbindung herzustellen, oder wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>Send support ticket</source>
        <translation>Support-Ticket senden</translation>
    </message>
    <message>
        <source>Forgot your password?</source>
        <translation>Passwort vergessen?</translation>
    </message>
    <message>
        <source>Sign up</source>
        <translation>Registrieren</translation>
    </message>
    <message>
        <source>There is no access to TOVRA VPN services. Please check your network connection and click Retry.</source>
        <translation>Kein Zugriff auf die Dienste von TOVRA VPN. Bitte überprüfen Sie Ihre Netzwerkverbindung und klicken Sie auf Erneut versuchen.</translation>
    </message>
    <message>
        <source>There is no active Internet connection. Please check your network connection and click Retry.</source>
        <translation>Es besteht keine aktive Internetverbindung. Bitte überprüfen Sie Ihre Netzwerkverbindung und klicken Sie auf Erneut versuchen.</translation>
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
        <source>We were unable to find an account with the provided Facebook id.</source>
        <translation>Wir konnten kein Konto mit der angegebenen Facebook-ID finden.</translation>
    </message>
    <message>
        <source>Please register with Facebook on TOVRA VPN portal.</source>
        <translation>Bitte registrieren Sie sich mit Facebook im TOVRA VPN-Portal.</translation>
    </message>
    <message>
        <source>We were unable to find an account with the provided Google id.</source>
        <translation>Wir konnten kein Konto mit der angegebenen Google-ID finden.</translation>
    </message>
    <message>
        <source>Please register with Google on TOVRA VPN portal.</source>
        <translation>Bitte registrieren Sie sich mit Google im TOVRA VPN-Portal.</translation>
    </message>
    <message>
        <source>Invalid email address or password specified.</source>
        <translation>Ungültige E-Mail-Adresse oder ungültiges Passwort angegeben.</translation>
    </message>
    <message>
        <source>Please try again.</source>
        <translation>Bitte versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Your TOVRA VPN Trial is over now.</source>
        <translation>Ihr Testzeitraum von TOVRA VPN ist jetzt abgelaufen.</translation>
    </message>
    <message>
        <source>Please PROCEED to your account to activate your subscription.</source>
        <translation>Klicken Sie auf FORTFAHREN, um zu Ihrem Konto zu gelangen und Ihr Abonnement zu aktivieren.</translation>
    </message>
    <message>
        <source>PROCEED</source>
        <translation>FORTFAHREN</translation>
    </message>
    <message>
        <source>It appears that you didn&apos;t verify your email yet for your TOVRA VPN Trial. Please check your email in order to activate your Trial account.
Or PROCEED to your account to resend verification email.</source>
        <translation>Anscheinend haben Sie Ihre E-Mail-Adresse für Ihren Testzeitraum von TOVRA VPN noch nicht bestätigt. Bitte prüfen Sie Ihre E-Mails, um Ihr Testkonto zu aktivieren.
Oder klicken Sie auf FORTFAHREN, um zu Ihrem Konto zu gelangen und die Bestätigungs-E-Mail erneut zu senden.</translation>
    </message>
    <message>
        <source>Sorry, we couldn&apos;t find any active subscription associated with this account.
Please PROCEED to your account to reactivate your subscription.</source>
        <translation>Leider konnten wir kein aktives Abonnement zu diesem Konto finden.
Klicken Sie auf FORTFAHREN, um zu Ihrem Konto zu gelangen und Ihr Abonnement zu reaktivieren.</translation>
    </message>
    <message>
        <source>IP address blocked.</source>
        <translation>IP-Adresse gesperrt.</translation>
    </message>
    <message>
        <source>There are too many failed login attempts from your IP address. Please contact support via our website.</source>
        <translation>Von Ihrer IP-Adresse gab es zu viele fehlgeschlagene Anmeldeversuche. Bitte wenden Sie sich über unsere Website an den Support.</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>REQUEST IS IN PROCESS...</source>
        <translation>ANFRAGE WIRD BEARBEITET...</translation>
    </message>
    <message>
        <source>Password reset requested.</source>
        <translation>Zurücksetzen des Passworts angefordert.</translation>
    </message>
    <message>
        <source>Error while requesting password reset.</source>
        <translation>Fehler beim Anfordern des Zurücksetzens des Passworts.</translation>
    </message>
    <message>
        <source>Please try again later.</source>
        <translation>Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>CANCEL LOGIN WITH FACEBOOK</source>
        <translation>ANMELDEN MIT FACEBOOK ABBRECHEN</translation>
    </message>
    <message>
        <source>Unfortunately login with Facebook failed.</source>
        <translation>Leider ist die Anmeldung mit Facebook fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Please try again or contact our support.</source>
        <translation>Bitte versuchen Sie es erneut oder wenden Sie sich an unseren Support.</translation>
    </message>
    <message>
        <source>CANCEL LOGIN WITH GOOGLE</source>
        <translation>ANMELDEN MIT GOOGLE ABBRECHEN</translation>
    </message>
    <message>
        <source>Unfortunately login with Google failed.</source>
        <translation>Leider ist die Anmeldung mit Google fehlgeschlagen.</translation>
    </message>
    <message>
        <source>API error occurred with message:
&quot;%1&quot;</source>
        <translation>Ein API-Fehler ist aufgetreten mit der Meldung:
&quot;%1&quot;</translation>
    </message>
    <message>
        <source>You cannot logout while TOVRA VPN is connected.</source>
        <translation>Sie können sich nicht abmelden, solange TOVRA VPN verbunden ist.</translation>
    </message>
    <message>
        <source>Open TOVRA VPN</source>
        <translation>TOVRA VPN öffnen</translation>
    </message>
    <message>
        <source>Quit TOVRA VPN</source>
        <translation>TOVRA VPN beenden</translation>
    </message>
    <message>
        <source>Collecting debug data...</source>
        <translation>Diagnosedaten werden gesammelt...</translation>
    </message>
    <message>
        <source>Support ticket error has occurred, please contact support.</source>
        <translation>Beim Support-Ticket ist ein Fehler aufgetreten, bitte wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>Support ticket has been created.</source>
        <translation>Das Support-Ticket wurde erstellt.</translation>
    </message>
    <message>
        <source>Your connection is NOT SECURE.
Click HERE to connect to a VPN server.</source>
        <translation>Ihre Verbindung ist NICHT GESICHERT.
Klicken Sie HIER, um sich mit einem VPN-Server zu verbinden.</translation>
    </message>
    <message>
        <source>You&apos;ve already used %1% of your data.</source>
        <translation>Sie haben bereits %1% Ihres Datenvolumens verbraucht.</translation>
    </message>
    <message>
        <source>Please UPGRADE your subscription.</source>
        <translation>Bitte führen Sie ein UPGRADE Ihres Abos durch.</translation>
    </message>
    <message>
        <source>Give your friends 30% discount
and earn money!</source>
        <translation>Schenken Sie Ihren Freunden 30 % Rabatt
und verdienen Sie Geld!</translation>
    </message>
    <message>
        <source>Get %1 10</source>
        <translation>10 %1 erhalten</translation>
    </message>
    <message>
        <source>No, Thanks</source>
        <translation>Nein, danke</translation>
    </message>
    <message>
        <source>Are you enjoying TOVRA VPN?</source>
        <translation>Gefällt Ihnen TOVRA VPN?</translation>
    </message>
    <message>
        <source>YES!</source>
        <translation>JA!</translation>
    </message>
    <message>
        <source>Not Really</source>
        <translation>Nicht wirklich</translation>
    </message>
    <message>
        <source>Would you like to rate TOVRA VPN on our website?</source>
        <translation>Möchten Sie TOVRA VPN auf unserer Website bewerten?</translation>
    </message>
    <message>
        <source>Ok, Sure</source>
        <translation>Ja, gerne</translation>
    </message>
    <message>
        <source>Would you mind giving us some feedback?</source>
        <translation>Würden Sie uns Feedback geben?</translation>
    </message>
    <message>
        <source>You already have the latest version of TOVRA VPN.</source>
        <translation>Sie haben bereits die neueste Version von TOVRA VPN.</translation>
    </message>
    <message>
        <source>A new version %1 is available.</source>
        <translation>Eine neue Version %1 ist verfügbar.</translation>
    </message>
    <message>
        <source>Click the Download button to get the latest version of TOVRA VPN.</source>
        <translation>Klicken Sie auf die Schaltfläche Herunterladen, um die neueste Version von TOVRA VPN zu erhalten.</translation>
    </message>
    <message>
        <source>DOWNLOAD</source>
        <translation>HERUNTERLADEN</translation>
    </message>
    <message>
        <source>LATER</source>
        <translation>SPÄTER</translation>
    </message>
    <message>
        <source>Update is available</source>
        <translation>Update verfügbar</translation>
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
        <source>&lt;a href=&quot;faq&quot; style=&quot;color: #f08d22;&quot;&gt;Read the answers to frequent questions&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;faq&quot; style=&quot;color: #f08d22;&quot;&gt;Antworten auf häufige Fragen lesen&lt;/a&gt;</translation>
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
        <source>Please wait until it&apos;s finished.</source>
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
    <message>
        <source>TOVRA VPN</source>
        <translation>TOVRA VPN</translation>
    </message>
</context>
<context>
    <name>TovraWelcomeDialog</name>
    <message>
        <source>TOVRA VPN</source>
        <translation>TOVRA VPN</translation>
    </message>
    <message>
        <source>SKIP TIPS</source>
        <translation>TIPPS ÜBERSPRINGEN</translation>
    </message>
    <message>
        <source>BACK</source>
        <translation>ZURÜCK</translation>
    </message>
    <message>
        <source>NEXT</source>
        <translation>WEITER</translation>
    </message>
    <message>
        <source>START</source>
        <translation>STARTEN</translation>
    </message>
</context>
</TS>

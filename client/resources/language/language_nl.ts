<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="nl">
<context>
    <name>TovraAccountDialog</name>
    <message>
        <source>TOVRA VPN</source>
        <translation>TOVRA VPN</translation>
    </message>
    <message>
        <source>ACCOUNT</source>
        <translation>ACCOUNT</translation>
    </message>
    <message>
        <source>TRAFFIC LIMIT:</source>
        <translation>DATALIMIET:</translation>
    </message>
    <message>
        <source>GO TO TOVRA VPN PORTAL</source>
        <translation>NAAR HET TOVRA VPN-PORTAAL</translation>
    </message>
    <message>
        <source>LOGOUT</source>
        <translation>AFMELDEN</translation>
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
        <source>UNLIMITED</source>
        <translation>ONBEPERKT</translation>
    </message>
    <message>
        <source>Your current traffic plan is unlimited</source>
        <translation>Uw huidige databundel is onbeperkt</translation>
    </message>
    <message>
        <source>%1 traffic left</source>
        <translation>Nog %1 data over</translation>
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
        <source>CANCEL</source>
        <translation>ANNULEREN</translation>
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
        <translation>TOVRA VPN wordt gestart...</translation>
    </message>
    <message>
        <source>TOVRA VPN</source>
        <translation>TOVRA VPN</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Opnieuw proberen</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;supportTicketLink&quot; style=&quot;color: #5b7178;&quot;&gt;Send support ticket&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;supportTicketLink&quot; style=&quot;color: #5b7178;&quot;&gt;Supportticket versturen&lt;/a&gt;</translation>
    </message>
    <message>
        <source>LOGIN WITH FACEBOOK</source>
        <translation>INLOGGEN MET FACEBOOK</translation>
    </message>
    <message>
        <source>LOGIN WITH GOOGLE</source>
        <translation>INLOGGEN MET GOOGLE</translation>
    </message>
    <message>
        <source>OR</source>
        <translation>OF</translation>
    </message>
    <message>
        <source>Email address</source>
        <translation>E-mailadres</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Wachtwoord</translation>
    </message>
    <message>
        <source>LOGIN</source>
        <translation>INLOGGEN</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;forgotPasswordLink&quot; style=&quot;color: #a2afbe;&quot;&gt;Forgot your password?&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;forgotPasswordLink&quot; style=&quot;color: #a2afbe;&quot;&gt;Wachtwoord vergeten?&lt;/a&gt;</translation>
    </message>
    <message>
        <source>Don&apos;t have an account?</source>
        <translation>Nog geen account?</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;signupLink&quot; style=&quot;color: #a2afbe;&quot;&gt;Sign up&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;signupLink&quot; style=&quot;color: #a2afbe;&quot;&gt;Registreren&lt;/a&gt;</translation>
    </message>
    <message>
        <source>FORGOT YOUR PASSWORD?</source>
        <translation>WACHTWOORD VERGETEN?</translation>
    </message>
    <message>
        <source>Forgot your password? Enter your email address below to begin the reset process.</source>
        <translation>Wachtwoord vergeten? Vul hieronder uw e-mailadres in om uw wachtwoord opnieuw in te stellen.</translation>
    </message>
    <message>
        <source>Enter your email</source>
        <translation>Vul uw e-mailadres in</translation>
    </message>
    <message>
        <source>REQUEST NEW PASSWORD</source>
        <translation>NIEUW WACHTWOORD AANVRAGEN</translation>
    </message>
    <message>
        <source>Account</source>
        <translation>Account</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Instellingen</translation>
    </message>
    <message>
        <source>CONNECTION</source>
        <translation>VERBINDING</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuleren</translation>
    </message>
    <message>
        <source>Business servers</source>
        <translation>Zakelijke servers</translation>
    </message>
    <message>
        <source>Other servers</source>
        <translation>Overige servers</translation>
    </message>
    <message>
        <source>KILL SWITCH</source>
        <translation>KILL SWITCH</translation>
    </message>
    <message>
        <source>Check for updates</source>
        <translation>Controleren op updates</translation>
    </message>
    <message>
        <source>TOVRA VPN Windows service could not start.</source>
        <translation>De Windows-service van TOVRA VPN kon niet starten.</translation>
    </message>
    <message>
        <source>Kill Switch and DNS leak prevention is disabled. Please restart your PC to try again or contact support.</source>
        <translation>Kill Switch en DNS-lekpreventie zijn uitgeschakeld. Start uw pc opnieuw op om het nogmaals te proberen of neem contact op met support.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>VPN Protocol</source>
        <translation>VPN-protocol</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Your traffic limit has been reached.</source>
        <translation>Uw datalimiet is bereikt.</translation>
    </message>
    <message>
        <source>Need more data?
UPGRADE your subscription.</source>
        <translation>Meer data nodig?
UPGRADE uw abonnement.</translation>
    </message>
    <message>
        <source>UPGRADE</source>
        <translation>UPGRADEN</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>This server is fully loaded.</source>
        <translation>Deze server is volledig belast.</translation>
    </message>
    <message>
        <source>Try again later or try another server.</source>
        <translation>Probeer het later opnieuw of kies een andere server.</translation>
    </message>
    <message>
        <source>Your connection is %1secured%2</source>
        <translation>Uw verbinding is %1beveiligd%2</translation>
    </message>
    <message>
        <source>The VPN secured connection has started</source>
        <translation>De beveiligde VPN-verbinding is gestart</translation>
    </message>
    <message>
        <source>Kill Switch Setup Failed.</source>
        <translation>Instellen van de Kill Switch mislukt.</translation>
    </message>
    <message>
        <source>This option will be disabled. Please restart your PC to try again or contact support.</source>
        <translation>Deze optie wordt uitgeschakeld. Start uw pc opnieuw op om het nogmaals te proberen of neem contact op met support.</translation>
    </message>
    <message>
        <source>Setup of DNS leak prevention failed.</source>
        <translation>Instellen van de DNS-lekpreventie mislukt.</translation>
    </message>
    <message>
        <source>Your connection is %1not secured%2</source>
        <translation>Uw verbinding is %1niet beveiligd%2</translation>
    </message>
    <message>
        <source>You no longer have a secured connection with VPN</source>
        <translation>U hebt geen beveiligde VPN-verbinding meer</translation>
    </message>
    <message>
        <source>This server is unavailable.</source>
        <translation>Deze server is niet beschikbaar.</translation>
    </message>
    <message>
        <source>Try again later or contact support.</source>
        <translation>Probeer het later opnieuw of neem contact op met support.</translation>
    </message>
    <message>
        <source>IP error occurred.</source>
        <translation>Er is een IP-fout opgetreden.</translation>
    </message>
    <message>
        <source>Select another server and try again or contact support.</source>
        <translation>Kies een andere server en probeer het opnieuw, of neem contact op met support.</translation>
    </message>
    <message>
        <source>An OpenVPN error occurred.</source>
        <translation>Er is een OpenVPN-fout opgetreden.</translation>
    </message>
    <message>
        <source>Restart and try again or contact support.</source>
        <translation>Start opnieuw op en probeer het nogmaals, of neem contact op met support.</translation>
    </message>
    <message>
        <source>An IKEv2 connection error occurred.</source>
        <translation>Er is een IKEv2-verbindingsfout opgetreden.</translation>
    </message>
    <message>
        <source>A server error occurred.</source>
        <translation>Er is een serverfout opgetreden.</translation>
    </message>
    <message>
        <source>Try to connect again or contact support.</source>
        <translation>Probeer opnieuw verbinding te maken of neem contact op met support.</translation>
    </message>
    <message>
        <source>Send support ticket</source>
        <translation>Supportticket versturen</translation>
    </message>
    <message>
        <source>Forgot your password?</source>
        <translation>Wachtwoord vergeten?</translation>
    </message>
    <message>
        <source>Sign up</source>
        <translation>Registreren</translation>
    </message>
    <message>
        <source>There is no access to TOVRA VPN services. Please check your network connection and click Retry.</source>
        <translation>Er is geen toegang tot de diensten van TOVRA VPN. Controleer uw netwerkverbinding en klik op Opnieuw proberen.</translation>
    </message>
    <message>
        <source>There is no active Internet connection. Please check your network connection and click Retry.</source>
        <translation>Er is geen actieve internetverbinding. Controleer uw netwerkverbinding en klik op Opnieuw proberen.</translation>
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
        <source>We were unable to find an account with the provided Facebook id.</source>
        <translation>We konden geen account vinden bij de opgegeven Facebook-ID.</translation>
    </message>
    <message>
        <source>Please register with Facebook on TOVRA VPN portal.</source>
        <translation>Registreer u met Facebook op het TOVRA VPN-portaal.</translation>
    </message>
    <message>
        <source>We were unable to find an account with the provided Google id.</source>
        <translation>We konden geen account vinden bij de opgegeven Google-ID.</translation>
    </message>
    <message>
        <source>Please register with Google on TOVRA VPN portal.</source>
        <translation>Registreer u met Google op het TOVRA VPN-portaal.</translation>
    </message>
    <message>
        <source>Invalid email address or password specified.</source>
        <translation>Ongeldig e-mailadres of wachtwoord opgegeven.</translation>
    </message>
    <message>
        <source>Please try again.</source>
        <translation>Probeer het opnieuw.</translation>
    </message>
    <message>
        <source>Your TOVRA VPN Trial is over now.</source>
        <translation>Uw proefperiode van TOVRA VPN is nu afgelopen.</translation>
    </message>
    <message>
        <source>Please PROCEED to your account to activate your subscription.</source>
        <translation>Klik op DOORGAAN om naar uw account te gaan en uw abonnement te activeren.</translation>
    </message>
    <message>
        <source>PROCEED</source>
        <translation>DOORGAAN</translation>
    </message>
    <message>
        <source>It appears that you didn&apos;t verify your email yet for your TOVRA VPN Trial. Please check your email in order to activate your Trial account.
Or PROCEED to your account to resend verification email.</source>
        <translation>Het lijkt erop dat u uw e-mailadres voor uw proefperiode van TOVRA VPN nog niet hebt bevestigd. Controleer uw e-mail om uw proefaccount te activeren.
Of klik op DOORGAAN om naar uw account te gaan en de bevestigingsmail opnieuw te versturen.</translation>
    </message>
    <message>
        <source>Sorry, we couldn&apos;t find any active subscription associated with this account.
Please PROCEED to your account to reactivate your subscription.</source>
        <translation>Helaas hebben we geen actief abonnement gevonden dat aan dit account is gekoppeld.
Klik op DOORGAAN om naar uw account te gaan en uw abonnement opnieuw te activeren.</translation>
    </message>
    <message>
        <source>IP address blocked.</source>
        <translation>IP-adres geblokkeerd.</translation>
    </message>
    <message>
        <source>There are too many failed login attempts from your IP address. Please contact support via our website.</source>
        <translation>Er zijn te veel mislukte inlogpogingen vanaf uw IP-adres. Neem via onze website contact op met support.</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Afsluiten</translation>
    </message>
    <message>
        <source>REQUEST IS IN PROCESS...</source>
        <translation>AANVRAAG WORDT VERWERKT...</translation>
    </message>
    <message>
        <source>Password reset requested.</source>
        <translation>Wachtwoordherstel aangevraagd.</translation>
    </message>
    <message>
        <source>Error while requesting password reset.</source>
        <translation>Fout bij het aanvragen van wachtwoordherstel.</translation>
    </message>
    <message>
        <source>Please try again later.</source>
        <translation>Probeer het later opnieuw.</translation>
    </message>
    <message>
        <source>CANCEL LOGIN WITH FACEBOOK</source>
        <translation>INLOGGEN MET FACEBOOK ANNULEREN</translation>
    </message>
    <message>
        <source>Unfortunately login with Facebook failed.</source>
        <translation>Helaas is inloggen met Facebook mislukt.</translation>
    </message>
    <message>
        <source>Please try again or contact our support.</source>
        <translation>Probeer het opnieuw of neem contact op met onze support.</translation>
    </message>
    <message>
        <source>CANCEL LOGIN WITH GOOGLE</source>
        <translation>INLOGGEN MET GOOGLE ANNULEREN</translation>
    </message>
    <message>
        <source>Unfortunately login with Google failed.</source>
        <translation>Helaas is inloggen met Google mislukt.</translation>
    </message>
    <message>
        <source>API error occurred with message:
&quot;%1&quot;</source>
        <translation>Er is een API-fout opgetreden met de melding:
&quot;%1&quot;</translation>
    </message>
    <message>
        <source>You cannot logout while TOVRA VPN is connected.</source>
        <translation>U kunt zich niet afmelden terwijl TOVRA VPN verbonden is.</translation>
    </message>
    <message>
        <source>Open TOVRA VPN</source>
        <translation>TOVRA VPN openen</translation>
    </message>
    <message>
        <source>Quit TOVRA VPN</source>
        <translation>TOVRA VPN afsluiten</translation>
    </message>
    <message>
        <source>Collecting debug data...</source>
        <translation>Diagnosegegevens verzamelen...</translation>
    </message>
    <message>
        <source>Support ticket error has occurred, please contact support.</source>
        <translation>Er is een fout opgetreden bij het supportticket, neem contact op met support.</translation>
    </message>
    <message>
        <source>Support ticket has been created.</source>
        <translation>Het supportticket is aangemaakt.</translation>
    </message>
    <message>
        <source>Your connection is NOT SECURE.
Click HERE to connect to a VPN server.</source>
        <translation>Uw verbinding is NIET BEVEILIGD.
Klik HIER om verbinding te maken met een VPN-server.</translation>
    </message>
    <message>
        <source>You&apos;ve already used %1% of your data.</source>
        <translation>U heeft al %1% van uw data verbruikt.</translation>
    </message>
    <message>
        <source>Please UPGRADE your subscription.</source>
        <translation>UPGRADE uw abonnement.</translation>
    </message>
    <message>
        <source>Give your friends 30% discount
and earn money!</source>
        <translation>Geef uw vrienden 30% korting
en verdien geld!</translation>
    </message>
    <message>
        <source>Get %1 10</source>
        <translation>Ontvang %1 10</translation>
    </message>
    <message>
        <source>No, Thanks</source>
        <translation>Nee, bedankt</translation>
    </message>
    <message>
        <source>Are you enjoying TOVRA VPN?</source>
        <translation>Bevalt TOVRA VPN u?</translation>
    </message>
    <message>
        <source>YES!</source>
        <translation>JA!</translation>
    </message>
    <message>
        <source>Not Really</source>
        <translation>Niet echt</translation>
    </message>
    <message>
        <source>Would you like to rate TOVRA VPN on our website?</source>
        <translation>Wilt u TOVRA VPN beoordelen op onze website?</translation>
    </message>
    <message>
        <source>Ok, Sure</source>
        <translation>Ja, graag</translation>
    </message>
    <message>
        <source>Would you mind giving us some feedback?</source>
        <translation>Wilt u ons wat feedback geven?</translation>
    </message>
    <message>
        <source>You already have the latest version of TOVRA VPN.</source>
        <translation>U heeft al de nieuwste versie van TOVRA VPN.</translation>
    </message>
    <message>
        <source>A new version %1 is available.</source>
        <translation>Er is een nieuwe versie %1 beschikbaar.</translation>
    </message>
    <message>
        <source>Click the Download button to get the latest version of TOVRA VPN.</source>
        <translation>Klik op de knop Downloaden om de nieuwste versie van TOVRA VPN te downloaden.</translation>
    </message>
    <message>
        <source>DOWNLOAD</source>
        <translation>DOWNLOADEN</translation>
    </message>
    <message>
        <source>LATER</source>
        <translation>LATER</translation>
    </message>
    <message>
        <source>Update is available</source>
        <translation>Update beschikbaar</translation>
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
        <source>Please wait until it&apos;s finished.</source>
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
    <message>
        <source>TOVRA VPN</source>
        <translation>TOVRA VPN</translation>
    </message>
    <message>
        <source>Automatically uses the best available server in the 
selected country, if this is disabled a full server list 
will be displayed.</source>
        <translation>Gebruikt automatisch de beste beschikbare server in het 
gekozen land; staat dit uit, dan wordt de volledige 
serverlijst getoond.</translation>
    </message>
    <message>
        <source>Automatically stops internet access if the VPN is suddenly disconnected. Access is restored on successfully connecting back to the VPN network or after closing TOVRA VPN.
Note: If you are unable to restore the connection, please restart your computer.</source>
        <translation>Blokkeert automatisch de internettoegang als de VPN-verbinding plotseling wegvalt. De toegang wordt hersteld zodra er weer verbinding is met het VPN-netwerk of nadat TOVRA VPN is afgesloten.
Let op: lukt het niet de verbinding te herstellen, start dan uw computer opnieuw op.</translation>
    </message>
    <message>
        <source>Use the DNS servers of TOVRA VPN to prevent DNS leaks.</source>
        <translation>Gebruik de DNS-servers van TOVRA VPN om DNS-lekken te voorkomen.</translation>
    </message>
    <message>
        <source>Automatically applies the best protocol available
for your device and the selected server.</source>
        <translation>Kiest automatisch het beste beschikbare protocol
voor uw apparaat en de gekozen server.</translation>
    </message>
    <message>
        <source>High security and fastest speed. Compatible with 
newer devices.</source>
        <translation>Hoge beveiliging en de hoogste snelheid. Geschikt voor 
nieuwere apparaten.</translation>
    </message>
    <message>
        <source>Medium security, normal speed. Supports many 
devices.</source>
        <translation>Gemiddelde beveiliging, normale snelheid. Werkt op veel 
apparaten.</translation>
    </message>
    <message>
        <source>Low security, high speed. Works almost on all 
devices.</source>
        <translation>Lage beveiliging, hoge snelheid. Werkt op bijna alle 
apparaten.</translation>
    </message>
    <message>
        <source>Practically indistinguishable from standard HTTPS data traffic
(can be masked/obfuscated) but is slower.</source>
        <translation>Vrijwel niet te onderscheiden van gewoon HTTPS-verkeer
(kan worden gemaskeerd/versluierd), maar is trager.</translation>
    </message>
    <message>
        <source>FAQ/SUPPORT</source>
        <translation>FAQ/SUPPORT</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;faq&quot; style=&quot;color: #f08d22;&quot;&gt;Read the answers to frequent questions&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;faq&quot; style=&quot;color: #f08d22;&quot;&gt;Lees de antwoorden op veelgestelde vragen&lt;/a&gt;</translation>
    </message>
    <message>
        <source>Give your friends 30% discount and earn money</source>
        <translation>Geef uw vrienden 30% korting en verdien geld</translation>
    </message>
    <message>
        <source>Get € 10 &gt;</source>
        <translation>Ontvang € 10 &gt;</translation>
    </message>
    <message>
        <source>Enable smart server list (You have to be
disconnected)</source>
        <translation>Slimme serverlijst inschakelen (verbinding moet
verbroken zijn)</translation>
    </message>
    <message>
        <source>Enjoy TOVRA VPN product? Upgrade your trial!</source>
        <translation>Bevalt TOVRA VPN? Upgrade uw proefversie!</translation>
    </message>
    <message>
        <source>Enjoy unlimited data? Upgrade now!</source>
        <translation>Onbeperkt data? Upgrade nu!</translation>
    </message>
    <message>
        <source>Save money using our Annual Subscription!</source>
        <translation>Bespaar geld met ons jaarabonnement!</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
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
        <translation>TIPS OVERSLAAN</translation>
    </message>
    <message>
        <source>BACK</source>
        <translation>TERUG</translation>
    </message>
    <message>
        <source>NEXT</source>
        <translation>VOLGENDE</translation>
    </message>
    <message>
        <source>START</source>
        <translation>STARTEN</translation>
    </message>
</context>
</TS>

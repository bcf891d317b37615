# Build constants of the client. Deployments override them on the cmake command line;
# the defaults point the client at the stand-in provider on loopback.
set(TOVRA_PROVIDER_API_PORT 58443 CACHE STRING "Port of the stand-in provider's API origin")
set(TOVRA_PROVIDER_PORTAL_PORT 58444 CACHE STRING "Port of the stand-in provider's portal origin")

set(TOVRA_PRODUCT_SHORT_NAME "TOVRA" CACHE STRING "Product short name")
set(TOVRA_PRODUCT_DISPLAY_NAME "TOVRA VPN" CACHE STRING "Product display name")
set(TOVRA_PRODUCT_TOKEN "TOVRAVPN" CACHE STRING "Product token")
set(TOVRA_APPLICATION_ID "TovraVPN" CACHE STRING "Single-instance application id")
set(TOVRA_API_BASE_URL "https://127.0.0.1:${TOVRA_PROVIDER_API_PORT}" CACHE STRING "API origin, no trailing slash")
set(TOVRA_PORTAL_BASE_URL "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}" CACHE STRING "Portal origin, no trailing slash")
set(TOVRA_SERVICE_DOMAIN "vpn.tovra.test" CACHE STRING "Domain of the VPN server host names")
set(TOVRA_REVIEW_URL_EN "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/review/en" CACHE STRING "Review page (en)")
set(TOVRA_REVIEW_URL_NL "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/review/nl" CACHE STRING "Review page (nl)")
set(TOVRA_REVIEW_URL_DE "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/review/de" CACHE STRING "Review page (de)")
set(TOVRA_FAQ_URL_EN "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/faq" CACHE STRING "FAQ page (en)")
set(TOVRA_FAQ_URL_NL "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/nl/faq" CACHE STRING "FAQ page (nl)")
set(TOVRA_FAQ_URL_DE "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/de/faq" CACHE STRING "FAQ page (de)")
set(TOVRA_L2TP_PRESHARED_KEY "YpGgWsnRBOUohqVwUwIwt5NDHXCodO" CACHE STRING "L2TP/IPSec pre-shared key (30 alphanumeric characters)")

# Folder of the Linux service registrations (the service-control layer in common/).
set(TOVRA_SERVICE_REGISTRY_DIR "/var/lib/tovra/services" CACHE PATH "Folder of the Linux service registrations")

set(TOVRA_DOWNLOAD_PAGE_URL "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/" CACHE STRING "Public web site, with trailing slash")
# The development build asks the stand-in portal for maps; deployments use https://api.mapbox.com.
set(TOVRA_MAP_API_BASE_URL "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}" CACHE STRING "Static map API origin, no trailing slash")
set(TOVRA_MAP_ACCESS_TOKEN "pk.eyJ1IjoidG92cmEtZGV2IiwiYSI6InN0YW5kLWluLXByb3ZpZGVyIn0.TovraDevMapTokenPlaceholder0123"
    CACHE STRING "Static map API public access token")

# Social sign-in. The development build sends the consent pages and the Graph requests to the stand-in
# portal; deployments use https://www.facebook.com/v5.0/dialog/oauth?response_type=code&,
# https://graph.facebook.com/v5.0/oauth/access_token?, https://graph.facebook.com/me?fields=id,email& and
# https://accounts.google.com/o/oauth2/v2/auth? with the provider's own app ID, secret and client ID.
set(TOVRA_OAUTH_LISTENER_PORT 56743 CACHE STRING "Loopback port the browser returns to after social sign-in")
set(TOVRA_FACEBOOK_APP_ID "584019273650183" CACHE STRING "Facebook app ID (15 digits)")
set(TOVRA_FACEBOOK_APP_SECRET "5784de53aaaabc56e086f2c303c82c6b" CACHE STRING "Facebook app secret (32 hex digits)")
set(TOVRA_FACEBOOK_DIALOG_URL "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/v5.0/dialog/oauth?response_type=code&"
    CACHE STRING "Facebook Login dialog, as a prefix for the query")
set(TOVRA_FACEBOOK_ACCESS_TOKEN_URL "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/v5.0/oauth/access_token?"
    CACHE STRING "Graph access-token endpoint, as a prefix for the query")
set(TOVRA_FACEBOOK_PROFILE_URL "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/me?fields=id,email&"
    CACHE STRING "Graph profile endpoint, as a prefix for the access token")
set(TOVRA_FACEBOOK_LANDING_URL "${TOVRA_PORTAL_BASE_URL}/facebook.php" CACHE STRING "Portal page after Facebook sign-in")
set(TOVRA_FACEBOOK_MAIL_DOMAIN "facebook.com" CACHE STRING "Mail domain of Facebook users without an e-mail address")
set(TOVRA_GOOGLE_CLIENT_ID "72940183561-tovradevstandinclient0123456789a.apps.googleusercontent.com"
    CACHE STRING "Google OAuth client ID (installed application)")
set(TOVRA_GOOGLE_AUTH_URL "https://127.0.0.1:${TOVRA_PROVIDER_PORTAL_PORT}/o/oauth2/v2/auth?"
    CACHE STRING "Google authorization endpoint, as a prefix for the query")
set(TOVRA_GOOGLE_LANDING_URL "${TOVRA_PORTAL_BASE_URL}/google.php" CACHE STRING "Portal page after Google sign-in")

# TLS. The client checks the provider's certificates against the system's trust store plus this CA
# certificate (PEM; empty for none). Development builds name the CA the stand-in provider makes at its first
# start in the state folder scripts/run gives it; deployments name their own or none.
set(TOVRA_TRUSTED_CA_FILE "${PROJECT_BINARY_DIR}/provider-state/ca.pem" CACHE FILEPATH
    "CA certificate trusted besides the system's store")
# Only for a deployment that cannot do otherwise: log TLS errors and go on regardless.
option(TOVRA_IGNORE_TLS_ERRORS "Log TLS errors and ignore them instead of failing the request" OFF)
if(TOVRA_IGNORE_TLS_ERRORS)
    set(TOVRA_IGNORE_TLS_ERRORS_VALUE true)
else()
    set(TOVRA_IGNORE_TLS_ERRORS_VALUE false)
endif()

set(TOVRA_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/client/app/tovraconstants.h.in ${TOVRA_GENERATED_DIR}/tovraconstants.h @ONLY)

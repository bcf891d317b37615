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

set(TOVRA_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/client/app/tovraconstants.h.in ${TOVRA_GENERATED_DIR}/tovraconstants.h @ONLY)

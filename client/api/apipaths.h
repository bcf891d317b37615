#pragma once

// Paths of the provider's API, appended to the API origin.
namespace ApiPaths {
inline constexpr char AuthEmail[] = "/auth/email";
inline constexpr char AuthFacebook[] = "/auth/facebook";
inline constexpr char AuthGoogle[] = "/auth/google";
inline constexpr char ResetPassword[] = "/auth/reset_password";
inline constexpr char UserPlan[] = "/users/me/plan";
inline constexpr char UserBandwidth[] = "/users/me/bandwidth";
inline constexpr char UserDetails[] = "/users/me";
inline constexpr char UserIp[] = "/users/me/ip";
inline constexpr char Servers[] = "/users/me/servers";
inline constexpr char BestServer[] = "/users/me/servers/best";
inline constexpr char OpenVpnTcpConfig[] = "/config/openvpn/tcp";
inline constexpr char OpenVpnUdpConfig[] = "/config/openvpn/udp";
inline constexpr char AutoAuthUrl[] = "/users/me/auto_auth_url";
inline constexpr char UpdateCheck[] = "/config/app/";
inline constexpr char TicketSignedIn[] = "/users/me/ticket";
inline constexpr char TicketAnonymous[] = "/users/anonymous/ticket";

inline constexpr char UpdatePlatform[] = "win";

// Static map of the user's and the server's location.
inline constexpr char MapStylePath[] = "/styles/v1/mapbox/streets-v11/static/";
inline constexpr char MarkerSelf[] = "/assets/img/mapbox_marker_self.png";
inline constexpr char MarkerSelf2x[] = "/assets/img/mapbox_marker_self_2x.png";
inline constexpr char MarkerServer[] = "/assets/img/mapbox_marker_srv.png";
inline constexpr char MarkerServer2x[] = "/assets/img/mapbox_marker_srv_2x.png";
inline constexpr int MapWidth = 417;
inline constexpr int MapHeight = 194;
inline constexpr int MapHeightB2b = 174;
inline constexpr char RouteLine[] = "path-2+F38827-1(%1),";
} // namespace ApiPaths

#include "web/SecurityHeaders.h"

// No Strict-Transport-Security: a site with a self-signed certificate could then never click
// through the browser's warning again, and no plain-HTTP port exists beyond loopback to upgrade.
std::vector<std::pair<QByteArray, QByteArray>> SecurityHeaders()
{
    return {
        {"Content-Security-Policy", "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                                    "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cross-Origin-Opener-Policy", "same-origin"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
        {"Permissions-Policy", "camera=(), microphone=(), geolocation=(), usb=(), serial=()"},
        {"Cache-Control", "no-store"},
    };
}

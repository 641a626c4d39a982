#pragma once

#include <QtGlobal>

// Web tests talk to 127.0.0.1 only: no proxy from the environment may come between.
inline void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        qunsetenv(name);
}

// The time of a basic-auth check for the right password, a wrong one and an unknown user, at
// bcrypt cost 10: the three should be alike, so an answer's time tells nothing. Prints the
// median and spread of each. Argument: the number of checks of each kind (default 21).
#include "exporter/CWebConfig.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 21;
    // htpasswd -nbBC 10 prometheus x
    const std::string yaml = "basic_auth_users:\n  prometheus: $2y$10$gHJY9S45M2y3HbufFCRTzuxuDB8/0byoEF51AomuhqzhKRHgoQ6jO\n";
    CWebConfig config;
    QString error;
    QStringList warnings;
    if (!config.Parse(yaml, "/", error, warnings)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const struct {
        const char* name;
        const char* user;
        const char* password;
    } kinds[] = {
        {"right password", "prometheus", "x"},
        {"wrong password", "prometheus", "y"},
        {"unknown user", "grafana", "x"},
    };
    for (const auto& kind : kinds) {
        std::vector<double> ms;
        bool passed = false;
        for (int i = 0; i < runs; ++i) {
            const auto start = std::chrono::steady_clock::now();
            passed = config.CheckPassword(kind.user, kind.password);
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%-15s %s  median %.2f ms  (min %.2f, max %.2f, %d checks)\n", kind.name,
                    passed ? "passes " : "refused", ms[ms.size() / 2], ms.front(), ms.back(), runs);
    }
    return 0;
}

#include "oidgen/ScanResult.h"

std::vector<std::string> ScanResult::Oids() const
{
    std::vector<std::string> oids;
    if (ticked)
        for (const Row& row : rows)
            oids.push_back(row.oid);
    return oids;
}

#pragma once
#include "collect/ColumnsSidecar.h"

#include <string>

// Writes a run's record into the column sidecar of the data file at dataPath, whole or not at
// all: the new sidecar is written beside the old one, reaches the disk and then takes its name
// (as reports are written). fresh starts the sidecar anew (the data file was created or emptied);
// otherwise the record is added to what the sidecar holds. False with error set to the
// system's text when it could not be written; the data file is not touched either way.
bool WriteColumnsRecord(const std::string& dataPath, const datafile::ColumnsRecord& record, bool fresh,
                        std::string& error);

#pragma once
#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <string>

// A data file or a datalog report as a spreadsheet: RFC 4180 CSV (comma-separated, fields quoted
// where needed, lines ending in CR LF), UTF-8 as far as the file's own texts are.
//
// Data file: a header row "time (ISO 8601 local time as written with its UTC offset)" and one
// column per sensor, named from the column sidecar (collect/ColumnsSidecar.h) as the plot names
// its series; a row per line, its time as 2026-10-25T02:00:00+01:00 (the local time and the
// offset of the instant it stands for, see CLineTimes), and an empty cell where that line's run had no such
// column. Report: the same with one column per sensor of the report (usually one: time, value).
// Lines of no known format are left out and counted.
//
// Streams: the file is read twice (once for the columns, once for the rows) through one bounded
// buffer, and rows are written as they come, so memory does not grow with the file. The output
// is written beside its place and renamed over it once it is whole and on the disk: an export
// that fails leaves any older file as it was.
//
// A name or text value that a spreadsheet would take for a formula (it starts with =, +, -, @ and
// is not a number) gets a ' in front.
namespace csvexport {

struct Result {
    bool ok = false;
    int error = 0;            // errno of a failure
    bool inputFailed = false; // the error was reading FILE (else writing OUT)
    std::int64_t rows = 0;    // rows written, header not counted
    std::int64_t columns = 0; // value columns
    std::int64_t skipped = 0; // lines of no known format, or too long
    std::int64_t unnamedValues = 0; // data-file values no sidecar record named ("Column n")
    std::string assumedZone; // lines whose zone no sidecar record gave were taken in this one
};

// path as platform::EscapedText gives it (bytes of any name); out as bytes. cancel, when given
// and set, stops the export (Result error ECANCELED, nothing written). zone: the IANA zone of
// lines whose sidecar record names none (empty: the machine's).
Result Export(const QString& path, const std::string& out, const std::atomic<bool>* cancel = nullptr,
              const QByteArray& zone = {});

// One field as RFC 4180 wants it: quoted when it holds a comma, a quote or a line break, quotes
// doubled.
void AppendField(std::string& row, std::string_view field);

} // namespace csvexport

#include "exporter/CMetricsText.h"

#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

std::string NumberText(double value)
{
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("NaN");
}

} // namespace

void CMetricsText::Gauge(const char* name, const char* help)
{
    m_families.push_back(Family{name, help, {}});
}

void CMetricsText::Counter(const char* name, const char* help)
{
    m_families.push_back(Family{name, help, {}, "counter"});
}

void CMetricsText::Sample(const char* name, const Labels& labels, double value)
{
    SampleWithLabelText(name, LabelText(labels), value);
}

std::string CMetricsText::LabelText(const Labels& labels)
{
    std::string text;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (i > 0)
            text += ',';
        text += labels[i].first;
        text += "=\"";
        text += EscapeLabelValue(labels[i].second);
        text += '"';
    }
    return text;
}

void CMetricsText::SampleWithLabelText(const char* name, const std::string& labelText, double value)
{
    for (Family& family : m_families) {
        if (std::strcmp(family.name, name) != 0)
            continue;
        std::string& out = family.samples;
        out += name;
        if (!labelText.empty()) {
            out += '{';
            out += labelText;
            out += '}';
        }
        out += ' ';
        out += NumberText(value);
        out += '\n';
        return;
    }
}

std::string CMetricsText::Text() const
{
    // A page of thousands of units is tens of megabytes: one allocation, not a doubling series.
    std::size_t size = 0;
    for (const Family& family : m_families)
        size += 32 + 2 * std::strlen(family.name) + std::strlen(family.help) + family.samples.size();
    std::string text;
    text.reserve(size);
    for (const Family& family : m_families) {
        text += "# HELP ";
        text += family.name;
        text += ' ';
        text += family.help;
        text += "\n# TYPE ";
        text += family.name;
        text += ' ';
        text += family.type;
        text += '\n';
        text += family.samples;
    }
    return text;
}

std::optional<double> CMetricsText::Number(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (*begin == '+') // from_chars takes no plus sign; one sign is still a plain number
        ++begin;
    if (begin == end || (*begin == '-' && text[0] == '+'))
        return std::nullopt;
    double value = 0;
    const auto [stop, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ec != std::errc() || stop != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string CMetricsText::EscapeLabelValue(const std::string& bytes)
{
    // Invalid UTF-8 becomes U+FFFD: Prometheus refuses a page with invalid label values. Most
    // labels are ASCII, which is valid as it is; a page of thousands of units spares the round
    // trip through UTF-16 for them.
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const std::string text =
        ascii ? bytes : QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
    if (text.find_first_of("\\\"\n") == std::string::npos)
        return text;
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

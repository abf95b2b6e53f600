#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Builds a page in Prometheus's text exposition format (version 0.0.4). Samples are grouped
// under their family's HELP and TYPE lines whatever order they are added in, as the format
// wants every family in one piece.
class CMetricsText {
public:
    using Labels = std::vector<std::pair<const char*, std::string>>;

    // Declares a gauge family; families appear in the order declared.
    void Gauge(const char* name, const char* help);
    // Declares a counter family (a total that only grows), likewise.
    void Counter(const char* name, const char* help);
    // Adds one sample of a declared family. Label values are bytes from outside: escaped, and
    // invalid UTF-8 replaced, so any description makes a valid line.
    void Sample(const char* name, const Labels& labels, double value);
    // The labels as a sample writes them between its braces (empty for none), for a caller that
    // gives the same labels to many samples: escaped once, then passed to SampleWithLabelText.
    static std::string LabelText(const Labels& labels);
    void SampleWithLabelText(const char* name, const std::string& labelText, double value);

    std::string Text() const;

    // The number a value text stands for: a plain decimal or floating-point text, nothing
    // before or after it, finite. Anything else (hex strings, empty texts) is no number.
    static std::optional<double> Number(const std::string& text);
    // A label value as the format writes it between its quotes.
    static std::string EscapeLabelValue(const std::string& bytes);

private:
    struct Family {
        const char* name;
        const char* help;
        std::string samples;
        const char* type = "gauge";
    };
    std::vector<Family> m_families;
};

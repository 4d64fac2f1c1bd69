#include "runner/results.h"

#include <QFile>
#include <QSaveFile>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace tarvik::runner {

namespace {

// Keeps reports short when thousands of runs of one exchange fail.
constexpr std::size_t kFailuresKept = 10;

std::string Ms(std::int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(us) / 1000.0);
    return text;
}

}  // namespace

std::int64_t Percentile(std::vector<std::int64_t> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

namespace {

// "min / median / p99 / max" in ms, "-" for none.
std::string Times(const std::vector<std::int64_t>& us, const char* between) {
    if (us.empty())
        return "-";
    return Ms(*std::min_element(us.begin(), us.end())) + between + Ms(Percentile(us, 50)) +
           between + Ms(Percentile(us, 99)) + between + Ms(*std::max_element(us.begin(), us.end()));
}

}  // namespace

ExchangeResults& Results::Of(const std::string& exchange) {
    auto found = std::find_if(exchanges_.begin(), exchanges_.end(),
                              [&](const ExchangeResults& e) { return e.name == exchange; });
    if (found != exchanges_.end())
        return *found;
    exchanges_.emplace_back();
    exchanges_.back().name = exchange;
    return exchanges_.back();
}

void Results::Passed(const std::string& exchange, std::int64_t responseUs) {
    ExchangeResults& e = Of(exchange);
    ++e.passed;
    if (responseUs >= 0)
        e.responseUs.push_back(responseUs);
}

void Results::Failed(const std::string& exchange, const std::string& reason) {
    ExchangeResults& e = Of(exchange);
    ++e.failed;
    if (e.failures.size() < kFailuresKept)
        e.failures.push_back(reason);
}

void Results::TimedOut(const std::string& exchange, const std::string& reason) {
    ExchangeResults& e = Of(exchange);
    ++e.timedOut;
    if (e.failures.size() < kFailuresKept)
        e.failures.push_back(reason);
}

int Results::ExitStatus() const {
    if (stoppedBy_ != 0)
        return 128 + stoppedBy_;
    if (!aborted_.empty())
        return kCouldNotRun;
    for (const ExchangeResults& e : exchanges_) {
        if (e.failed + e.timedOut > 0)
            return kSomeFailed;
    }
    return kAllPassed;
}

std::vector<std::string> Results::Summary() const {
    std::vector<std::string> lines;
    lines.push_back(
        "exchange | count | passed | failed | timed out | response ms min / median / "
        "p99 / max");
    int count = 0, passed = 0, failed = 0, timedOut = 0;
    for (const ExchangeResults& e : exchanges_) {
        std::string times = "-";
        if (!e.responseUs.empty()) {
            times = Ms(*std::min_element(e.responseUs.begin(), e.responseUs.end())) + " / " +
                    Ms(Percentile(e.responseUs, 50)) + " / " + Ms(Percentile(e.responseUs, 99)) +
                    " / " + Ms(*std::max_element(e.responseUs.begin(), e.responseUs.end()));
        }
        lines.push_back(e.name + " | " + std::to_string(e.Count()) + " | " +
                        std::to_string(e.passed) + " | " + std::to_string(e.failed) + " | " +
                        std::to_string(e.timedOut) + " | " + times);
        count += e.Count();
        passed += e.passed;
        failed += e.failed;
        timedOut += e.timedOut;
    }
    lines.push_back("total | " + std::to_string(count) + " | " + std::to_string(passed) + " | " +
                    std::to_string(failed) + " | " + std::to_string(timedOut) + " |");
    if (stoppedBy_ != 0)
        lines.push_back("stopped by signal " + std::to_string(stoppedBy_) + " before the end");
    if (!aborted_.empty())
        lines.push_back("could not run to the end: " + aborted_);
    if (!rules_.empty()) {
        lines.push_back("rule | matched | answered | response ms min / median / p99 / max");
        for (const RuleResults& rule : rules_)
            lines.push_back(rule.name + " | " + std::to_string(rule.matched) + " | " +
                            std::to_string(rule.answered) + " | " + Times(rule.responseUs, " / "));
    }
    return lines;
}

void Results::WriteJUnit(const std::string& fileName, const std::string& suiteName,
                         double seconds) const {
    QSaveFile file(QFile::decodeName(fileName.c_str()));
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("Cannot create file \"" + fileName + "\". " +
                                 file.errorString().toStdString());
    int failures = 0;
    for (const ExchangeResults& e : exchanges_) failures += e.failed + e.timedOut > 0 ? 1 : 0;
    const int errors = aborted_.empty() && stoppedBy_ == 0 ? 0 : 1;
    const auto text = [](const std::string& s) { return QString::fromUtf8(s.c_str()); };
    const auto number = [](double n) { return QString::number(n); };

    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), text(suiteName));
    xml.writeAttribute(QStringLiteral("tests"),
                       number(double(exchanges_.size() + rules_.size()) + errors));
    xml.writeAttribute(QStringLiteral("failures"), number(failures));
    xml.writeAttribute(QStringLiteral("errors"), number(errors));
    xml.writeAttribute(QStringLiteral("time"), number(seconds));
    for (const ExchangeResults& e : exchanges_) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), text(suiteName));
        xml.writeAttribute(QStringLiteral("name"), text(e.name));
        std::int64_t totalUs = 0;
        for (std::int64_t us : e.responseUs) totalUs += us;
        xml.writeAttribute(QStringLiteral("time"), number(double(totalUs) / 1e6));
        if (e.failed + e.timedOut > 0) {
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(
                QStringLiteral("message"),
                text(std::to_string(e.failed) + " failed, " + std::to_string(e.timedOut) +
                     " timed out of " + std::to_string(e.Count())));
            std::string reasons;
            for (const std::string& reason : e.failures) reasons += reason + "\n";
            xml.writeCharacters(text(reasons));
            xml.writeEndElement();
        }
        xml.writeTextElement(
            QStringLiteral("system-out"),
            text(std::to_string(e.Count()) + " runs, " + std::to_string(e.passed) + " passed; " +
                 "response ms min/median/p99/max " +
                 (e.responseUs.empty()
                      ? std::string("-")
                      : Ms(*std::min_element(e.responseUs.begin(), e.responseUs.end())) + "/" +
                            Ms(Percentile(e.responseUs, 50)) + "/" +
                            Ms(Percentile(e.responseUs, 99)) + "/" +
                            Ms(*std::max_element(e.responseUs.begin(), e.responseUs.end())))));
        xml.writeEndElement();
    }
    // The receive rules, as cases of their own class: what they matched and answered.
    for (const RuleResults& rule : rules_) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), text(suiteName + ".rules"));
        xml.writeAttribute(QStringLiteral("name"), text(rule.name));
        xml.writeTextElement(QStringLiteral("system-out"),
                             text(std::to_string(rule.matched) + " matched, " +
                                  std::to_string(rule.answered) +
                                  " answered; response ms min/median/p99/max " +
                                  Times(rule.responseUs, "/")));
        xml.writeEndElement();
    }
    if (errors != 0) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), text(suiteName));
        xml.writeAttribute(QStringLiteral("name"), QStringLiteral("run"));
        xml.writeStartElement(QStringLiteral("error"));
        xml.writeAttribute(
            QStringLiteral("message"),
            text(stoppedBy_ != 0 ? "stopped by signal " + std::to_string(stoppedBy_) : aborted_));
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError() || !file.commit())
        throw std::runtime_error("Cannot write file \"" + fileName + "\". " +
                                 file.errorString().toStdString());
}

}  // namespace tarvik::runner

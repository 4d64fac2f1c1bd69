#pragma once
// What a run found, per exchange (an expect's name, or a history line):
// how many ran, passed, failed, timed out, and the response times; the
// summary printed after the transcript, the JUnit XML report and the exit
// status. Main thread.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvik::runner {

// Exit statuses: all passed, some failed, could not run. A run stopped by
// SIGINT, SIGTERM or SIGHUP ends as the shell reports such a stop, 128 + the signal.
inline constexpr int kAllPassed = 0;
inline constexpr int kSomeFailed = 1;
inline constexpr int kCouldNotRun = 2;

struct ExchangeResults {
    std::string name;
    int passed = 0;
    int failed = 0;
    int timedOut = 0;
    std::vector<std::int64_t> responseUs;  // one per answered exchange, in order
    std::vector<std::string> failures;     // the first few reasons, for the reports

    int Count() const { return passed + failed + timedOut; }
};

// A receive rule's figures over the run.
struct RuleResults {
    std::string name;
    std::uint64_t matched = 0;
    std::uint64_t answered = 0;
    std::vector<std::int64_t> responseUs;  // last byte's arrival to the answer handed over
};

// Nearest-rank percentile (0 < p <= 100) of the values; 0 for none.
std::int64_t Percentile(std::vector<std::int64_t> values, double p);

class Results {
  public:
    // `responseUs` < 0: passed without a response time.
    void Passed(const std::string& exchange, std::int64_t responseUs);
    void Failed(const std::string& exchange, const std::string& reason);
    void TimedOut(const std::string& exchange, const std::string& reason);
    // The run could not go on (status 2), or was stopped by a signal.
    void Aborted(const std::string& reason) { aborted_ = reason; }
    void Stopped(int signal) { stoppedBy_ = signal; }

    // The receive rules' figures, listed after the exchanges.
    void SetRules(std::vector<RuleResults> rules) { rules_ = std::move(rules); }

    const std::vector<ExchangeResults>& Exchanges() const { return exchanges_; }
    int ExitStatus() const;

    // The lines of the summary: a header, one per exchange, a total; then
    // the receive rules, a header and one line each, when there are any.
    std::vector<std::string> Summary() const;
    // Writes the JUnit XML report: one test suite, one test case per
    // exchange (failed when any of its runs failed or timed out), and an
    // error case when the run could not go on. Throws std::runtime_error
    // when the file cannot be written.
    void WriteJUnit(const std::string& fileName, const std::string& suiteName,
                    double seconds) const;

  private:
    ExchangeResults& Of(const std::string& exchange);

    std::vector<ExchangeResults> exchanges_;  // in the order first seen
    std::vector<RuleResults> rules_;
    std::string aborted_;
    int stoppedBy_ = 0;
};

}  // namespace tarvik::runner

// What a validate run tells people while it runs. Called on the run's own
// thread; the run owns nothing behind it.
#ifndef VALIDATION_LOG_H
#define VALIDATION_LOG_H

#include <string>

class ValidationLog {
  public:
    virtual ~ValidationLog() = default;
    // How the run goes: the panel it drives, the search, why it cannot run.
    virtual void note(const std::string& line) = 0;
    // A failure and its shrinking, as each is done.
    virtual void finding(const std::string& line) = 0;
    // Sessions done so far, of `planned` (0: bounded by time alone).
    virtual void progress(int done, int planned) = 0;
    // The progress shown so far, if any, is over.
    virtual void endProgress() = 0;
};

#endif

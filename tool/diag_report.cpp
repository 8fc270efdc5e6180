#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "diag_command.h"

namespace diag {

const Command* FindCommand(const std::string& name) {
    for (auto group : {LinkCommands(), FpgaCommands()}) {
        for (const Command& c : group) {
            if (name == c.name) return &c;
        }
    }
    return nullptr;
}

Report::Report(std::string command, bool json, FILE* timing)
    : command_(std::move(command)), json_(json), timing_(timing) {
    values_.BeginObject().Key("command").String(command_);
    laps_.Start();
}

void Report::Line(const char* format, ...) {
    if (json_) return;
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
}

int Report::Fail(const std::string& why) {
    fprintf(stderr, "txdiag: %s: %s\n", command_.c_str(), why.c_str());
    if (error_.empty()) error_ = why;
    return kExitFailed;
}

void Report::Step(const char* name) {
    laps_.Mark();
    stepNames_.push_back(name);
}

int Report::Finish(int status) {
    if (json_) {
        values_.Key("ok").Bool(status == kExitOk);
        if (!error_.empty()) values_.Key("error").String(error_);
        values_.Key("steps").BeginArray();
        timespec previous = laps_.StartTime();
        for (size_t i = 0; i < stepNames_.size(); ++i) {
            const timespec& mark = laps_.Marks()[i];
            const double ms = static_cast<double>(mark.tv_sec - previous.tv_sec) * 1e3 +
                              static_cast<double>(mark.tv_nsec - previous.tv_nsec) / 1e6;
            values_.BeginObject().Key("step").String(stepNames_[i]).Key("ms").Double(ms);
            values_.EndObject();
            previous = mark;
        }
        values_.EndArray().EndObject();
        printf("%s\n", values_.Text().c_str());
    }
    if (timing_ == nullptr) return status;
    // A heading names the run, so that appended blocks can be told apart.
    char date[64] = "";
    const time_t now = time(nullptr);
    tm utc{};
    if (gmtime_r(&now, &utc) != nullptr) strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S UTC", &utc);
    fprintf(timing_, "# txdiag %s, %s, steps:", command_.c_str(), date);
    for (const char* name : stepNames_) fprintf(timing_, " %s", name);
    fputc('\n', timing_);
    laps_.printLaps(timing_);
    if (fflush(timing_) != 0 || ferror(timing_)) {
        fprintf(stderr, "txdiag: %s: step report lost: %s\n", command_.c_str(), strerror(errno));
        return kExitFailed;
    }
    return status;
}

}  // namespace diag

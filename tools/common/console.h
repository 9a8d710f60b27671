// What the console tools share: text output that shows the same characters on a console as in
// a file or pipe, number options, and a stop signal for Ctrl+C.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace vorkast::tools {

// Narrow text in the ANSI code page. To a console it is converted so the characters show as
// they are; to a file or pipe the bytes go out unchanged (stdio's text mode turns \n into \r\n).
void WriteAnsi(std::FILE* stream, std::string_view text);

// Wide (UTF-16) text: to a console as it is, to a file or pipe as UTF-8.
void WriteWide(std::FILE* stream, std::wstring_view text);

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8OrAnsi(std::string_view text);  // UTF-8 when valid, else the ANSI code page

// A whole decimal number from 0 to `max`, nothing else on the text (no sign, no spaces).
bool ParseUnsigned(const char* text, unsigned long long max, unsigned long long* value);

// Ctrl+C, Ctrl+Break and closing the console set one manual-reset event; the tools wait on it
// instead of sleeping, so they stop at once and run their destructors.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    HANDLE event() const { return event_; }
    bool stopped() const { return ::WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }
    // Sets the event; the first reason given is kept.
    void Trigger(const char* reason);
    const char* reason() const;

private:
    HANDLE event_;
};

// True when the process has a standard input to watch.
bool HasStandardInput();

// Triggers `stop` ("end of standard input") once standard input ends or breaks, from a thread
// of its own that the process ends on exit. Nothing happens without a standard input.
void StopAtEndOfInput(StopSignal* stop);

}  // namespace vorkast::tools

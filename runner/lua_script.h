#pragma once
// A Lua 5.4 script driving a run. The script sees:
//   open([port])            opens the port (the command line's when none is named)
//   close()                 closes it
//   send(line [, check])    sends the line in the notation, with the named
//                           check value appended over its bytes
//   expect(pattern [, limit])  waits for the pattern (the notation, "??" for
//                           any byte); limit is milliseconds, or a table
//                           {timeout = ms, check = name, name = exchange};
//                           returns true, or false and the reason
//   sleep(ms)
//   set_dtr(on), set_rts(on)   switch the output lines
//   send_break([ms])        holds the line in break (default 250 ms)
//   wait_event(name [, ms]) waits for a line event ("CTS", "DSR", "DCD",
//                           "RI", "break", "frame error", "parity error",
//                           "overrun", "buffer overrun", "line lost", "back");
//                           returns true and the state (modem lines) or the
//                           count, or false when none came in time
//   send_file(path [, {char_delay=, line_delay=, eol="asis"|"cr"|"crlf"|"lf",
//             wait_for=pattern, timeout=ms}])   a text file line by line
//   send_raw(path [, {block=, delay=}])         a file as it is, by block
//   xmodem_send(path [, {block=128|1024}]), xmodem_receive(path [, {crc=, timeout=}])
//   ymodem_send(path), ymodem_receive(folder [, {timeout=}])
//                           (timeout: ms for the sender to start, 60 s by default)
//                           each a transfer counted as one exchange;
//                           returns true, or false and the reason
//   send_sequence(name)     sends the sequence set's send sequence (--sequences),
//                           its repeats with their interval
//   on_receive(pattern, action)  from now on, whenever what arrives matches
//                           the pattern (as expect reads it), answers with the
//                           send sequence named `action`, or calls the function
//                           `action` with the matched bytes; both happen while
//                           the script waits (expect, sleep, wait_event)
// Main thread.

#include <cstddef>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/text.h"
#include "codec/pattern.h"

struct lua_State;
struct lua_Debug;

namespace tarvik::runner {

class Answering;
class RunSteps;

// A script that cannot run: "file:line: reason".
class EScript : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class LuaScript {
  public:
    // A script is read whole before it runs; a larger file is refused.
    static constexpr std::size_t kMaxScriptBytes = 8u << 20;

    // Reads and compiles the script, and checks every line and pattern
    // written as a literal in a call of send or expect, before anything is
    // sent. Throws EScript for a file it cannot read (a folder, one past
    // kMaxScriptBytes, a stream that stalls: base/bounded_file.h), a syntax
    // error or a literal in bad notation.
    explicit LuaScript(const std::string& fileName);
    ~LuaScript();
    LuaScript(const LuaScript&) = delete;
    LuaScript& operator=(const LuaScript&) = delete;

    // Runs the compiled chunk over the steps. ERunStopped after a stop
    // signal; ERunAborted for an error of the script ("file:line: reason")
    // or of the line. An expect that fails is counted, not an error.
    void Run(RunSteps& steps, Answering& answering, const Text& port,
             std::int64_t defaultTimeoutMs);

  private:
    static LuaScript& Self(lua_State* L);
    // Ends a script that runs without waiting on the line once a stop
    // signal is pending.
    static void StopHook(lua_State* L, lua_Debug* debug);
    template <typename F>
    static int Guarded(lua_State* L, F&& body);
    static int Open(lua_State* L);
    static int Close(lua_State* L);
    static int Send(lua_State* L);
    static int Expect(lua_State* L);
    static int Sleep(lua_State* L);
    static int SetDtr(lua_State* L);
    static int SetRts(lua_State* L);
    static int SendBreak(lua_State* L);
    static int WaitEvent(lua_State* L);
    // File transfers
    static int SendFile(lua_State* L);
    static int SendRaw(lua_State* L);
    static int XmodemSend(lua_State* L);
    static int XmodemReceive(lua_State* L);
    static int YmodemSend(lua_State* L);
    static int YmodemReceive(lua_State* L);
    static int SendSequence(lua_State* L);
    static int OnReceive(lua_State* L);
    // Calls the function an on_receive registered with the matched bytes.
    void CallAction(int function, const std::string& bytes);

    std::string fileName_;
    lua_State* L_ = nullptr;
    RunSteps* steps_ = nullptr;
    Answering* answering_ = nullptr;
    Text port_;
    std::int64_t defaultTimeoutMs_ = 1000;
    // What ended the run inside a call; raised again however the script
    // catches the Lua error it became.
    std::exception_ptr ending_;
    // A loop sends one line and expects one pattern over and over: the
    // last of each is kept read.
    std::string lastLine_;
    std::string lastLineBytes_;
    std::optional<Pattern> lastPattern_;
};

}  // namespace tarvik::runner

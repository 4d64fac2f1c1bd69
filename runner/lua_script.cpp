#include "runner/lua_script.h"

#include <QCoreApplication>
#include <lua.hpp>

#include "base/stop_signals.h"
#include "base/bounded_file.h"
#include "codec/check_value.h"
#include "runner/answering.h"
#include "runner/line_session.h"
#include "codec/pattern.h"
#include "runner/run_steps.h"
#include "runner/script_literals.h"
#include "serial/port/com_port.h"
#include "transfer/engine.h"

namespace tarvik::runner {


namespace {

// Arguments are read without luaL_check*: a Lua error raised while C++
// objects are alive would skip their destructors.
std::string StringArgument(lua_State* L, int index, const char* function) {
    std::size_t length = 0;
    const char* text =
        lua_type(L, index) == LUA_TSTRING ? lua_tolstring(L, index, &length) : nullptr;
    if (text == nullptr)
        throw std::invalid_argument(std::string("bad argument #") + std::to_string(index) +
                                    " to '" + function + "' (string expected)");
    return {text, length};
}

std::int64_t NumberArgument(lua_State* L, int index, const char* function) {
    int isNumber = 0;
    const lua_Number value = lua_tonumberx(L, index, &isNumber);
    if (!isNumber || value < 0)
        throw std::invalid_argument(std::string("bad argument #") + std::to_string(index) +
                                    " to '" + function + "' (milliseconds expected)");
    return static_cast<std::int64_t>(value);
}

// Lua instructions between two looks for a stop signal: a script that loops
// without waiting on the line still stops on Ctrl+C. One system call per
// million instructions.
constexpr int kStopCheckInstructions = 1'000'000;

}  // namespace

void LuaScript::StopHook(lua_State* L, lua_Debug*) {
    LuaScript& self = **static_cast<LuaScript**>(lua_getextraspace(L));
    // A script that computes without waiting shows its transcript all the same.
    if (self.steps_ != nullptr)
        self.steps_->Session().Log().Flush();
    if (StopSignals::Pending()) {
        // The signal's own event (StopSignals) marks the session stopped.
        QCoreApplication::processEvents();
    }
    if (self.steps_ == nullptr || self.steps_->Session().StoppedBy() == 0)
        return;
    if (!self.ending_)
        self.ending_ = std::make_exception_ptr(ERunStopped());
    lua_pushliteral(L, "the run has ended");
    lua_error(L);
}

LuaScript::LuaScript(const std::string& fileName) : fileName_(fileName) {
    std::string source;
    try {
        source = ReadBoundedFile(fileName, {.maxBytes = kMaxScriptBytes, .what = "a script may hold"});
    } catch (const EFileRead& error) {
        throw EScript(error.what());
    }
    // Nothing to run is a mistake (a wrong file, a stream that gave nothing),
    // not a test that passes.
    if (source.find_first_not_of(" \t\r\n") == std::string::npos)
        throw EScript(fileName + ": the script is empty");

    L_ = luaL_newstate();
    if (L_ == nullptr)
        throw EScript(fileName + ": no memory for a Lua state");
    luaL_openlibs(L_);
    *static_cast<LuaScript**>(lua_getextraspace(L_)) = this;
    lua_sethook(L_, &LuaScript::StopHook, LUA_MASKCOUNT, kStopCheckInstructions);
    const std::string chunkName = "@" + fileName;
    if (luaL_loadbufferx(L_, source.data(), source.size(), chunkName.c_str(), "t") != LUA_OK) {
        const std::string message = lua_tostring(L_, -1);
        throw EScript(message);
    }
    try {
        CheckScriptLiterals(fileName, source);
    } catch (const std::runtime_error& error) {
        throw EScript(error.what());
    }
    const struct {
        const char* name;
        lua_CFunction function;
    } functions[] = {{"open", &LuaScript::Open},           {"close", &LuaScript::Close},
                     {"send", &LuaScript::Send},           {"expect", &LuaScript::Expect},
                     {"sleep", &LuaScript::Sleep},         {"set_dtr", &LuaScript::SetDtr},
                     {"set_rts", &LuaScript::SetRts},      {"send_break", &LuaScript::SendBreak},
                     {"wait_event", &LuaScript::WaitEvent},
                     {"send_file", &LuaScript::SendFile},  {"send_raw", &LuaScript::SendRaw},
                     {"xmodem_send", &LuaScript::XmodemSend},
                     {"xmodem_receive", &LuaScript::XmodemReceive},
                     {"ymodem_send", &LuaScript::YmodemSend},
                     {"ymodem_receive", &LuaScript::YmodemReceive},
                     {"send_sequence", &LuaScript::SendSequence},
                     {"on_receive", &LuaScript::OnReceive}};
    for (const auto& f : functions) {
        lua_pushlightuserdata(L_, this);
        lua_pushcclosure(L_, f.function, 1);
        lua_setglobal(L_, f.name);
    }
}

LuaScript::~LuaScript() {
    if (L_ != nullptr)
        lua_close(L_);
}

LuaScript& LuaScript::Self(lua_State* L) {
    return *static_cast<LuaScript*>(lua_touserdata(L, lua_upvalueindex(1)));
}

template <typename F>
int LuaScript::Guarded(lua_State* L, F&& body) {
    LuaScript& self = Self(L);
    int results = -1;
    if (!self.ending_) {
        try {
            results = body(self);
        } catch (const ERunStopped&) {
            self.ending_ = std::current_exception();
        } catch (const std::exception& error) {
            // A bad argument, pattern or check value name: the run cannot go
            // on, and the script's place is named.
            luaL_where(L, 1);
            self.ending_ = std::make_exception_ptr(
                ERunAborted(std::string(lua_tostring(L, -1)) + error.what()));
            lua_pop(L, 1);
        }
    }
    if (results >= 0)
        return results;
    // No C++ object of this frame is alive past here.
    lua_pushliteral(L, "the run has ended");
    return lua_error(L);
}

int LuaScript::Open(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const Text port = lua_isnoneornil(L, 1) ? self.port_ : StringArgument(L, 1, "open");
        if (port.empty())
            throw std::invalid_argument("open: no port given here or on the command line");
        self.steps_->Session().Open(port);
        return 0;
    });
}

int LuaScript::Close(lua_State* L) {
    return Guarded(L, [](LuaScript& self) {
        self.steps_->Session().Close();
        return 0;
    });
}

int LuaScript::Send(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const std::string line = StringArgument(L, 1, "send");
        if (line != self.lastLine_ || self.lastLine_.empty()) {
            self.lastLineBytes_ = fun::EncodeLine(line);
            self.lastLine_ = line;
        }
        std::string bytes = self.lastLineBytes_;
        if (!lua_isnoneornil(L, 2)) {
            const fun::TCheckValue& check = CheckValueNamed(StringArgument(L, 2, "send"));
            bytes += fun::CheckValueBytes(
                check, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
        }
        self.steps_->Send(bytes);
        return 0;
    });
}

int LuaScript::Expect(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const std::string text = StringArgument(L, 1, "expect");
        if (!self.lastPattern_ || self.lastPattern_->text != text)
            self.lastPattern_ = ParsePattern(text);
        Pattern pattern = *self.lastPattern_;
        std::int64_t timeoutMs = self.defaultTimeoutMs_;
        std::string exchange = pattern.text;
        if (lua_istable(L, 2)) {
            if (lua_getfield(L, 2, "timeout") != LUA_TNIL)
                timeoutMs = NumberArgument(L, -1, "expect");
            if (lua_getfield(L, 2, "check") != LUA_TNIL)
                AddCheck(pattern, CheckValueNamed(StringArgument(L, -1, "expect")));
            if (lua_getfield(L, 2, "name") != LUA_TNIL)
                exchange = StringArgument(L, -1, "expect");
            lua_pop(L, 3);
        } else if (!lua_isnoneornil(L, 2)) {
            timeoutMs = NumberArgument(L, 2, "expect");
        }
        if (pattern.check != nullptr && exchange == pattern.text)
            exchange += " + " + std::string(pattern.check->name);
        const std::optional<std::string> failure =
            self.steps_->Expect(pattern, exchange, timeoutMs);
        lua_pushboolean(L, !failure);
        if (!failure)
            return 1;
        lua_pushlstring(L, failure->data(), failure->size());
        return 2;
    });
}

int LuaScript::Sleep(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        self.steps_->Sleep(NumberArgument(L, 1, "sleep"));
        return 0;
    });
}

int LuaScript::SetDtr(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const bool on = lua_toboolean(L, 1) != 0;
        self.steps_->Session().Port().SetDTR(on);
        self.steps_->Session().Log().Event(on ? "DTR on" : "DTR off", NowStamp());
        return 0;
    });
}

int LuaScript::SetRts(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const bool on = lua_toboolean(L, 1) != 0;
        self.steps_->Session().Port().SetRTS(on);
        self.steps_->Session().Log().Event(on ? "RTS on" : "RTS off", NowStamp());
        return 0;
    });
}

int LuaScript::SendBreak(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const std::chrono::milliseconds duration =
            lua_isnoneornil(L, 1) ? cport::TComPort::kDefaultBreak
                                  : std::chrono::milliseconds(NumberArgument(L, 1, "send_break"));
        self.steps_->Session().Port().SendBreak(duration);
        self.steps_->Session().Log().Event(
            "break sent (" + std::to_string(duration.count()) + " ms)", NowStamp());
        return 0;
    });
}

int LuaScript::WaitEvent(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const std::string name = StringArgument(L, 1, "wait_event");
        const std::int64_t timeoutMs =
            lua_isnoneornil(L, 2) ? self.defaultTimeoutMs_ : NumberArgument(L, 2, "wait_event");
        LineSession& session = self.steps_->Session();
        // Events before the one waited for are passed over and dropped.
        const auto take = [&] {
            auto& events = session.Events();
            while (!events.empty() && name != cport::LineEventName(events.front().kind))
                events.pop_front();
            return !events.empty();
        };
        if (!session.WaitUntil(take, NowStamp().monoUs + timeoutMs * 1000)) {
            lua_pushboolean(L, 0);
            return 1;
        }
        const cport::LineEvent event = session.Events().front();
        session.Events().pop_front();
        lua_pushboolean(L, 1);
        if (event.kind <= cport::LineEventKind::kRing)
            lua_pushboolean(L, event.state);
        else
            lua_pushinteger(L, event.count);
        return 2;
    });
}

namespace {

// The options table of a transfer (argument 2), read field by field.
struct TransferOptions {
    lua_State* L;
    const char* function;

    bool Has(const char* field) const {
        if (!lua_istable(L, 2))
            return false;
        const bool present = lua_getfield(L, 2, field) != LUA_TNIL;
        if (!present)
            lua_pop(L, 1);
        return present;  // the value stays on the stack for the reader
    }
    std::int64_t Number(const char* field, std::int64_t fallback) const {
        if (!Has(field))
            return fallback;
        const std::int64_t value = NumberArgument(L, -1, function);
        lua_pop(L, 1);
        return value;
    }
    std::string String(const char* field) const {
        if (!Has(field))
            return {};
        std::string value = StringArgument(L, -1, function);
        lua_pop(L, 1);
        return value;
    }
    bool Flag(const char* field, bool fallback) const {
        if (!Has(field))
            return fallback;
        const bool value = lua_toboolean(L, -1) != 0;
        lua_pop(L, 1);
        return value;
    }
};

transfer::Job JobOf(lua_State* L, const char* function, transfer::Mode mode, bool receive) {
    transfer::Job job;
    job.mode = mode;
    job.receive = receive;
    job.path = StringArgument(L, 1, function);
    if (!lua_isnoneornil(L, 2) && !lua_istable(L, 2))
        throw std::invalid_argument(std::string("bad argument #2 to '") + function +
                                    "' (table expected)");
    return job;
}

int PushOutcome(lua_State* L, const std::optional<std::string>& failure) {
    lua_pushboolean(L, !failure);
    if (!failure)
        return 1;
    lua_pushlstring(L, failure->data(), failure->size());
    return 2;
}

}  // namespace

int LuaScript::SendFile(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        transfer::Job job = JobOf(L, "send_file", transfer::Mode::kText, false);
        const TransferOptions options{L, "send_file"};
        job.text.charDelayMs = options.Number("char_delay", 0);
        job.text.lineDelayMs = options.Number("line_delay", 0);
        job.text.waitTimeoutMs = options.Number("timeout", self.defaultTimeoutMs_);
        if (const std::string eol = options.String("eol"); !eol.empty()) {
            const auto lineEnd = transfer::LineEndNamed(eol);
            if (!lineEnd)
                throw std::invalid_argument("send_file: eol is asis, cr, crlf or lf, not '" + eol + "'");
            job.text.lineEnd = *lineEnd;
        }
        if (const std::string wait = options.String("wait_for"); !wait.empty())
            job.text.waitFor = ParsePattern(wait);
        return PushOutcome(L, self.steps_->Transfer(job, transfer::Describe(job)));
    });
}

int LuaScript::SendRaw(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        transfer::Job job = JobOf(L, "send_raw", transfer::Mode::kRaw, false);
        const TransferOptions options{L, "send_raw"};
        job.raw.blockBytes = static_cast<std::size_t>(std::max<std::int64_t>(options.Number("block", 1024), 1));
        job.raw.blockDelayMs = options.Number("delay", 0);
        return PushOutcome(L, self.steps_->Transfer(job, transfer::Describe(job)));
    });
}

int LuaScript::XmodemSend(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const TransferOptions options{L, "xmodem_send"};
        const std::int64_t block = options.Number("block", 128);
        if (block != 128 && block != 1024)
            throw std::invalid_argument("xmodem_send: block is 128 or 1024");
        transfer::Job job = JobOf(L, "xmodem_send",
                                  block == 1024 ? transfer::Mode::kXmodem1k : transfer::Mode::kXmodem, false);
        return PushOutcome(L, self.steps_->Transfer(job, transfer::Describe(job)));
    });
}

int LuaScript::XmodemReceive(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        transfer::Job job = JobOf(L, "xmodem_receive", transfer::Mode::kXmodem, true);
        const TransferOptions options{L, "xmodem_receive"};
        job.modem.crc = options.Flag("crc", true);
        job.modem.times.startMs = options.Number("timeout", job.modem.times.startMs);
        return PushOutcome(L, self.steps_->Transfer(job, transfer::Describe(job)));
    });
}

int LuaScript::YmodemSend(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const transfer::Job job = JobOf(L, "ymodem_send", transfer::Mode::kYmodem, false);
        return PushOutcome(L, self.steps_->Transfer(job, transfer::Describe(job)));
    });
}

int LuaScript::YmodemReceive(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        transfer::Job job = JobOf(L, "ymodem_receive", transfer::Mode::kYmodem, true);
        job.modem.times.startMs =
            TransferOptions{L, "ymodem_receive"}.Number("timeout", job.modem.times.startMs);
        return PushOutcome(L, self.steps_->Transfer(job, transfer::Describe(job)));
    });
}

int LuaScript::SendSequence(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const sequences::SendSequence& send =
            self.answering_->Send(StringArgument(L, 1, "send_sequence"));
        const std::string bytes = sequences::EncodeSend(send);
        for (int i = 0; i < send.repeat; ++i) {
            if (i > 0)
                self.steps_->Sleep(send.intervalMs);
            self.steps_->Send(bytes);
        }
        return 0;
    });
}

int LuaScript::OnReceive(lua_State* L) {
    return Guarded(L, [L](LuaScript& self) {
        const std::string pattern = StringArgument(L, 1, "on_receive");
        if (lua_isfunction(L, 2)) {
            lua_pushvalue(L, 2);
            const int function = luaL_ref(L, LUA_REGISTRYINDEX);
            self.answering_->AddRule(pattern, {}, function);
        } else if (lua_type(L, 2) == LUA_TSTRING) {
            self.answering_->AddRule(pattern, StringArgument(L, 2, "on_receive"), -1);
        } else {
            throw std::invalid_argument(
                "bad argument #2 to 'on_receive' (a send sequence's name or a function expected)");
        }
        return 0;
    });
}

void LuaScript::CallAction(int function, const std::string& bytes) {
    lua_rawgeti(L_, LUA_REGISTRYINDEX, function);
    lua_pushlstring(L_, bytes.data(), bytes.size());
    if (lua_pcall(L_, 1, 0, 0) == LUA_OK)
        return;
    const char* text = lua_tostring(L_, -1);
    std::string message = text != nullptr ? text : "an error object that is no text";
    lua_pop(L_, 1);
    if (ending_)
        std::rethrow_exception(ending_);
    throw ERunAborted("on_receive: " + message);
}

void LuaScript::Run(RunSteps& steps, Answering& answering, const Text& port,
                    std::int64_t defaultTimeoutMs) {
    steps_ = &steps;
    answering_ = &answering;
    answering.SetOnFunction(
        [this](int function, const std::string& bytes) { CallAction(function, bytes); });
    port_ = port;
    defaultTimeoutMs_ = defaultTimeoutMs;
    const int status = lua_pcall(L_, 0, 0, 0);
    std::string message;
    if (status != LUA_OK) {
        const char* text = lua_tostring(L_, -1);
        message = text != nullptr ? text : "an error object that is no text";
        lua_pop(L_, 1);
    }
    if (ending_)
        std::rethrow_exception(ending_);
    if (status != LUA_OK)
        throw ERunAborted(message);
}

}  // namespace tarvik::runner

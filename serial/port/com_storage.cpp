// Writing a port's settings to an ini file section or a registry key and
// reading them back. One table drives all four operations, so the keys, their
// order and their encodings cannot drift apart between stores or directions.

#include <cstdint>
#include <string_view>
#include <vector>

#include "serial/port/com_buffer.h"
#include "serial/port/com_conversions.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_timeouts.h"
#include "serial/port/custom_com_port.h"
#include "serial/store/ini_file.h"
#include "serial/store/registry.h"

namespace cport {

namespace {

using Port = TCustomComPort;
using tarvik::Text;

// One stored key: its group, its name, and how its setting is encoded. A
// text key has toText/fromText, an integer key toInt/fromInt.
struct KeyEntry {
    TStoredGroup group;
    const char* name;
    Text (*toText)(const Port&);
    void (*fromText)(Port&, std::string_view);
    std::int32_t (*toInt)(const Port&);
    void (*fromInt)(Port&, std::int32_t);
};

KeyEntry TextKey(TStoredGroup group, const char* name, Text (*toText)(const Port&),
                 void (*fromText)(Port&, std::string_view)) {
    return {group, name, toText, fromText, nullptr, nullptr};
}

KeyEntry IntKey(TStoredGroup group, const char* name, std::int32_t (*toInt)(const Port&),
                void (*fromInt)(Port&, std::int32_t)) {
    return {group, name, nullptr, nullptr, toInt, fromInt};
}

constexpr const char* kBaudRateKey = "BaudRate";
constexpr const char* kCustomBaudRateKey = "CustomBaudRate";
// The ini default of "CustomBaudRate" is this, not the port's current rate.
constexpr std::int32_t kCustomBaudRateDefault = 9600;

// Groups in the order sgBasic, sgOthers, sgParity, sgBuffer, sgTimeouts,
// sgFlowControl; "CustomBaudRate" follows "BaudRate" (see the loops below).
const std::vector<KeyEntry>& Keys() {
    static const std::vector<KeyEntry> keys{
        TextKey(
            sgBasic, "Port", [](const Port& p) { return p.Port(); },
            [](Port& p, std::string_view t) { p.SetPort(Text(t)); }),
        TextKey(
            sgBasic, kBaudRateKey, [](const Port& p) { return BaudRateToText(p.BaudRate()); },
            [](Port& p, std::string_view t) { p.SetBaudRate(TextToBaudRate(t)); }),
        TextKey(
            sgBasic, "StopBits", [](const Port& p) { return StopBitsToText(p.StopBits()); },
            [](Port& p, std::string_view t) { p.SetStopBits(TextToStopBits(t)); }),
        TextKey(
            sgBasic, "DataBits", [](const Port& p) { return DataBitsToText(p.DataBits()); },
            [](Port& p, std::string_view t) { p.SetDataBits(TextToDataBits(t)); }),
        TextKey(
            sgBasic, "Parity", [](const Port& p) { return ParityToText(p.Parity().Bits()); },
            [](Port& p, std::string_view t) { p.Parity().SetBits(TextToParity(t)); }),
        TextKey(
            sgBasic, "FlowControl",
            [](const Port& p) { return FlowControlToText(p.FlowControl().FlowControl()); },
            [](Port& p, std::string_view t) {
                p.FlowControl().SetFlowControl(TextToFlowControl(t));
            }),

        TextKey(
            sgOthers, "EventChar", [](const Port& p) { return CharToText(p.EventChar()); },
            [](Port& p, std::string_view t) { p.SetEventChar(TextToChar(t)); }),
        TextKey(
            sgOthers, "DiscardNull", [](const Port& p) { return BoolToText(p.DiscardNull()); },
            [](Port& p, std::string_view t) { p.SetDiscardNull(TextToBool(t)); }),

        TextKey(
            sgParity, "Parity.Check", [](const Port& p) { return BoolToText(p.Parity().Check()); },
            [](Port& p, std::string_view t) { p.Parity().SetCheck(TextToBool(t)); }),
        TextKey(
            sgParity, "Parity.Replace",
            [](const Port& p) { return BoolToText(p.Parity().Replace()); },
            [](Port& p, std::string_view t) { p.Parity().SetReplace(TextToBool(t)); }),
        TextKey(
            sgParity, "Parity.ReplaceChar",
            [](const Port& p) { return CharToText(p.Parity().ReplaceChar()); },
            [](Port& p, std::string_view t) { p.Parity().SetReplaceChar(TextToChar(t)); }),

        IntKey(
            sgBuffer, "Buffer.OutputSize", [](const Port& p) { return p.Buffer().OutputSize(); },
            [](Port& p, std::int32_t v) { p.Buffer().SetOutputSize(v); }),
        IntKey(
            sgBuffer, "Buffer.InputSize", [](const Port& p) { return p.Buffer().InputSize(); },
            [](Port& p, std::int32_t v) { p.Buffer().SetInputSize(v); }),

        IntKey(
            sgTimeouts, "Timeouts.ReadInterval",
            [](const Port& p) { return p.Timeouts().ReadInterval(); },
            [](Port& p, std::int32_t v) { p.Timeouts().SetReadInterval(v); }),
        IntKey(
            sgTimeouts, "Timeouts.ReadTotalConstant",
            [](const Port& p) { return p.Timeouts().ReadTotalConstant(); },
            [](Port& p, std::int32_t v) { p.Timeouts().SetReadTotalConstant(v); }),
        IntKey(
            sgTimeouts, "Timeouts.ReadTotalMultiplier",
            [](const Port& p) { return p.Timeouts().ReadTotalMultiplier(); },
            [](Port& p, std::int32_t v) { p.Timeouts().SetReadTotalMultiplier(v); }),
        IntKey(
            sgTimeouts, "Timeouts.WriteTotalConstant",
            [](const Port& p) { return p.Timeouts().WriteTotalConstant(); },
            [](Port& p, std::int32_t v) { p.Timeouts().SetWriteTotalConstant(v); }),
        IntKey(
            sgTimeouts, "Timeouts.WriteTotalMultiplier",
            [](const Port& p) { return p.Timeouts().WriteTotalMultiplier(); },
            [](Port& p, std::int32_t v) { p.Timeouts().SetWriteTotalMultiplier(v); }),

        TextKey(
            sgFlowControl, "FlowControl.ControlRTS",
            [](const Port& p) { return RTSControlToText(p.FlowControl().ControlRTS()); },
            [](Port& p, std::string_view t) {
                p.FlowControl().SetControlRTS(TextToRTSControl(t));
            }),
        TextKey(
            sgFlowControl, "FlowControl.ControlDTR",
            [](const Port& p) { return DTRControlToText(p.FlowControl().ControlDTR()); },
            [](Port& p, std::string_view t) {
                p.FlowControl().SetControlDTR(TextToDTRControl(t));
            }),
        TextKey(
            sgFlowControl, "FlowControl.DSRSensitivity",
            [](const Port& p) { return BoolToText(p.FlowControl().DSRSensitivity()); },
            [](Port& p, std::string_view t) { p.FlowControl().SetDSRSensitivity(TextToBool(t)); }),
        TextKey(
            sgFlowControl, "FlowControl.OutCTSFlow",
            [](const Port& p) { return BoolToText(p.FlowControl().OutCTSFlow()); },
            [](Port& p, std::string_view t) { p.FlowControl().SetOutCTSFlow(TextToBool(t)); }),
        TextKey(
            sgFlowControl, "FlowControl.OutDSRFlow",
            [](const Port& p) { return BoolToText(p.FlowControl().OutDSRFlow()); },
            [](Port& p, std::string_view t) { p.FlowControl().SetOutDSRFlow(TextToBool(t)); }),
        TextKey(
            sgFlowControl, "FlowControl.TxContinueOnXoff",
            [](const Port& p) { return BoolToText(p.FlowControl().TxContinueOnXoff()); },
            [](Port& p, std::string_view t) {
                p.FlowControl().SetTxContinueOnXoff(TextToBool(t));
            }),
        TextKey(
            sgFlowControl, "FlowControl.XonXoffIn",
            [](const Port& p) { return BoolToText(p.FlowControl().XonXoffIn()); },
            [](Port& p, std::string_view t) { p.FlowControl().SetXonXoffIn(TextToBool(t)); }),
        TextKey(
            sgFlowControl, "FlowControl.XonXoffOut",
            [](const Port& p) { return BoolToText(p.FlowControl().XonXoffOut()); },
            [](Port& p, std::string_view t) { p.FlowControl().SetXonXoffOut(TextToBool(t)); }),
        TextKey(
            sgFlowControl, "FlowControl.XoffChar",
            [](const Port& p) { return CharToText(p.FlowControl().XoffChar()); },
            [](Port& p, std::string_view t) { p.FlowControl().SetXoffChar(TextToChar(t)); }),
        TextKey(
            sgFlowControl, "FlowControl.XonChar",
            [](const Port& p) { return CharToText(p.FlowControl().XonChar()); },
            [](Port& p, std::string_view t) { p.FlowControl().SetXonChar(TextToChar(t)); }),
    };
    return keys;
}

bool IsBaudRate(const KeyEntry& key) {
    return std::string_view(key.name) == kBaudRateKey;
}

// What storing needs of a store.
class Sink {
  public:
    virtual ~Sink() = default;
    virtual void WriteText(const char* key, const Text& value) = 0;
    virtual void WriteInteger(const char* key, std::int32_t value) = 0;
};

// What loading needs of a store. fallback is the ini file's default for an
// absent key; the registry has none.
class Source {
  public:
    virtual ~Source() = default;
    virtual Text ReadText(const char* key, const Text& fallback) = 0;
    virtual std::int32_t ReadInteger(const char* key, std::int32_t fallback) = 0;
};

void Store(const Port& port, Sink& sink) {
    const TStoredGroups groups = port.StoredGroups();
    for (const KeyEntry& key : Keys()) {
        if (!groups.Contains(key.group))
            continue;
        if (key.toText)
            sink.WriteText(key.name, key.toText(port));
        else
            sink.WriteInteger(key.name, key.toInt(port));
        if (IsBaudRate(key) && port.BaudRate() == brCustom)
            sink.WriteInteger(kCustomBaudRateKey, port.CustomBaudRate());
    }
}

// Each value goes through its setter before the next key is read: the
// fallback of a key is the setting as the keys before it left it.
void Load(Port& port, Source& source) {
    const TStoredGroups groups = port.StoredGroups();
    for (const KeyEntry& key : Keys()) {
        if (!groups.Contains(key.group))
            continue;
        if (key.fromText)
            key.fromText(port, source.ReadText(key.name, key.toText(port)));
        else
            key.fromInt(port, source.ReadInteger(key.name, key.toInt(port)));
        if (IsBaudRate(key) && port.BaudRate() == brCustom)
            port.SetCustomBaudRate(source.ReadInteger(kCustomBaudRateKey, kCustomBaudRateDefault));
    }
}

class RegistrySink : public Sink {
  public:
    explicit RegistrySink(TRegistry& reg) : reg_(reg) {}
    void WriteText(const char* key, const Text& value) override { reg_.WriteString(key, value); }
    void WriteInteger(const char* key, std::int32_t value) override {
        reg_.WriteInteger(key, value);
    }

  private:
    TRegistry& reg_;
};

class RegistrySource : public Source {
  public:
    explicit RegistrySource(const TRegistry& reg) : reg_(reg) {}
    Text ReadText(const char* key, const Text&) override { return reg_.ReadString(key); }
    std::int32_t ReadInteger(const char* key, std::int32_t) override {
        return reg_.ReadInteger(key);
    }

  private:
    const TRegistry& reg_;
};

// The component name as an 8-bit text; a name beyond Latin-1 would be
// mangled into another section's name, so it is refused.
Text SectionOf(const Port& port, const TIniFile& ini) {
    const QString name = port.objectName();
    for (QChar c : name) {
        if (c.unicode() > 0xFF) {
            throw EIniFileError("The component name '" + name.toStdString() +
                                "' cannot name a section of settings file '" +
                                ini.FileName().string() + "'");
        }
    }
    const QByteArray latin1 = name.toLatin1();
    return Text(latin1.constData(), static_cast<std::size_t>(latin1.size()));
}

class IniSink : public Sink {
  public:
    IniSink(TIniFile& ini, Text section) : ini_(ini), section_(std::move(section)) {}
    void WriteText(const char* key, const Text& value) override {
        ini_.WriteString(section_, key, value);
    }
    void WriteInteger(const char* key, std::int32_t value) override {
        ini_.WriteInteger(section_, key, value);
    }

  private:
    TIniFile& ini_;
    Text section_;
};

class IniSource : public Source {
  public:
    IniSource(const TIniFile& ini, Text section) : ini_(ini), section_(std::move(section)) {}
    Text ReadText(const char* key, const Text& fallback) override {
        return ini_.ReadString(section_, key, fallback);
    }
    std::int32_t ReadInteger(const char* key, std::int32_t fallback) override {
        return ini_.ReadInteger(section_, key, fallback);
    }

  private:
    const TIniFile& ini_;
    Text section_;
};

// Reads exactly the keys the load will read, so that a value the ini file
// cannot give (a malformed integer, a character beyond Latin-1) is reported
// before the first setting changes, and a key the load skips refuses nothing.
void CheckIniValues(const Port& port, const TIniFile& ini, const Text& section) {
    const TStoredGroups groups = port.StoredGroups();
    for (const KeyEntry& key : Keys()) {
        if (!groups.Contains(key.group))
            continue;
        if (!key.fromText) {
            ini.ReadInteger(section, key.name, 0);
            continue;
        }
        const Text value = ini.ReadString(section, key.name, key.toText(port));
        // The rate the load will have set when it comes to "CustomBaudRate".
        if (IsBaudRate(key) && TextToBaudRate(value) == brCustom)
            ini.ReadInteger(section, kCustomBaudRateKey, 0);
    }
}

}  // namespace

void TCustomComPort::StoreRegistry(TRegistry& Reg) {
    RegistrySink sink(Reg);
    Store(*this, sink);
}

void TCustomComPort::StoreIniFile(TIniFile& IniFile) {
    IniSink sink(IniFile, SectionOf(*this, IniFile));
    Store(*this, sink);
}

void TCustomComPort::LoadRegistry(TRegistry& Reg) {
    RegistrySource source(Reg);
    Load(*this, source);
}

void TCustomComPort::LoadIniFile(TIniFile& IniFile) {
    const Text section = SectionOf(*this, IniFile);
    CheckIniValues(*this, IniFile, section);
    IniSource source(IniFile, section);
    Load(*this, source);
}

}  // namespace cport

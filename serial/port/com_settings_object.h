#pragma once
// Common ground of the port's four settings sub-objects (parity, flow
// control, time-outs, buffer sizes): the owner reference, whole-object
// copying, and the hand-over of a changed group to the owning port.
// Main thread only, like the port itself.

#include <stdexcept>
#include <string>

namespace cport {

class TCustomComPort;

// Raised when a settings object is copied from an object of another class.
class EAssignError : public std::runtime_error {
  public:
    EAssignError(const std::string& sourceClass, const std::string& targetClass);
};

class TComSettingsObject {
  public:
    // owner: the port this object belongs to, not owned; nullptr for a
    // free-standing object, whose setters then only store.
    explicit TComSettingsObject(TCustomComPort* owner) : owner_(owner) {}
    virtual ~TComSettingsObject() = default;
    // Copies would share the owner reference; use Assign instead.
    TComSettingsObject(const TComSettingsObject&) = delete;
    TComSettingsObject& operator=(const TComSettingsObject&) = delete;

    TCustomComPort* ComPort() const { return owner_; }

    // Copies every stored setting of source, which must be of this class or
    // one derived from it; keeps the owner reference, calls no setter and
    // hands nothing to the device. Throws EAssignError, changing nothing,
    // for a source of another class.
    virtual void Assign(const TComSettingsObject& source) = 0;
    virtual const char* ClassName() const = 0;

  protected:
    [[noreturn]] void FailAssign(const TComSettingsObject& source) const;

    // Ask the owning port, if any, to hand one group to the device again; it
    // does so only while open and not loading.
    void ReapplyLineSettings() const;
    void ReapplyTimeouts() const;
    void ReapplyBuffer() const;

    // The first step of every setter: false when nothing changes.
    template <typename T>
    static bool Store(T& field, T value) {
        if (field == value)
            return false;
        field = value;
        return true;
    }

  private:
    TCustomComPort* owner_;
};

}  // namespace cport

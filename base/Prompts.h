#pragma once
#include <QString>
#include <optional>

// Message boxes are told by text, style number and title. The style number is
// the sum of a button set, an icon and a default-button choice.
namespace MsgStyle {
constexpr int OkOnly = 0;
constexpr int OkCancel = 1;
constexpr int AbortRetryIgnore = 2;
constexpr int RetryCancel = 5;
constexpr int Critical = 16;
constexpr int Exclamation = 48;
constexpr int Information = 64;
constexpr int DefaultButton2 = 256;
constexpr int ButtonsMask = 0x0F;
constexpr int IconMask = 0xF0;
constexpr int DefaultMask = 0xF00;
}

enum class MsgAnswer { OK, Cancel, Abort, Retry, Ignore };

// The seam through which the tool asks the user anything.
class Prompts {
public:
    virtual ~Prompts() = default;
    // An empty title means the application title.
    virtual MsgAnswer MsgBox(const QString &text, int style, const QString &title) = 0;
    // A file-open dialog; nullopt when the user cancels.
    virtual std::optional<QString> ShowOpen(const QString &dialogTitle, const QString &filter,
                                            const QString &initialFileName) = 0;
};

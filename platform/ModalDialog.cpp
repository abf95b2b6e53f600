#include "platform/ModalDialog.h"

#include <QDialog>

namespace platform {
namespace {
ModalHandler& Handler()
{
    static ModalHandler handler; // UI thread only
    return handler;
}
} // namespace

int ExecModal(QDialog& dialog)
{
    if (Handler()) {
        // Copy first: the handler may install another one while it runs.
        const ModalHandler handler = Handler();
        if (const auto result = handler(dialog))
            return *result;
    }
    return dialog.exec();
}

void SetModalHandler(ModalHandler handler)
{
    Handler() = std::move(handler);
}

} // namespace platform

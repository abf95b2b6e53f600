#pragma once
#include <functional>
#include <optional>

class QDialog;

namespace platform {

// Runs a dialog modally and returns its result (QDialog::Accepted or Rejected). Every modal
// dialog of the program goes through here so that tests can answer it.
int ExecModal(QDialog& dialog);

// Tests: a handler that sees each dialog before it runs. It may drive the dialog itself and
// return its result, or return nothing to let the dialog run as usual.
using ModalHandler = std::function<std::optional<int>(QDialog& dialog)>;
void SetModalHandler(ModalHandler handler);

} // namespace platform

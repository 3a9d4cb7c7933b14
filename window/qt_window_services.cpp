#include "window/qt_window_services.h"

#include <QMetaObject>
#include <QStringList>
#include <QThread>
#include <type_traits>

#include "window/programmer_dlg.h"

namespace koru {

template <class Fn>
auto QtWindowServices::OnWindowThread(Fn fn) -> decltype(fn()) {
    using Result = decltype(fn());
    if (QThread::currentThread() == m_window.thread()) {
        return fn();
    }
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(&m_window, fn, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            &m_window, [&result, &fn] { result = fn(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

int ChoiceControlId(Choice choice) {
    switch (choice) {
        case Choice::SerialOtp:
            return 114;
        case Choice::SerialMtp:
            return 115;
        case Choice::DataSam:
            return 118;
        case Choice::DataCalmRisc:
            return 119;
        case Choice::DataArm:
            return 120;
        case Choice::Vdd50:
            return 116;
        case Choice::Vdd33:
            return 117;
        case Choice::AutoReadProtect:
            return 123;
        case Choice::AutoLdcProtect:
            return 125;
        case Choice::AutoBlankCheck:
            return 122;
        case Choice::AutoHwProtect:
            return 124;
        case Choice::AutoSmart:
            return 127;
        case Choice::AutoVerify:
            return 121;
        case Choice::AutoEraseMtp:
            return 126;
        case Choice::FastMode:
            return 200;
        case Choice::ChipView:
            return 166;
        case Choice::AsciiView:
            return 167;
    }
    return -1;
}

int FieldControlId(TextField field) {
    switch (field) {
        case TextField::CodeFileName:
            return 147;
        case TextField::StartAddress:
            return 129;
        case TextField::EndAddress:
            return 131;
        case TextField::Checksum:
            return 153;
        case TextField::SuccessCount:
            return 179;
        case TextField::FailureCount:
            return 180;
        case TextField::DisplayAddress:
            return 162;
    }
    return -1;
}

QString ToQtFileFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            break;  // the closing "||"
        }
        entries << parts[i] + QStringLiteral(" (") + parts[i + 1] + u')';
    }
    return entries.join(QStringLiteral(";;"));
}

ChoiceState QtWindowServices::GetChoice(Choice choice) {
    return OnWindowThread([this, choice] {
        const int id = ChoiceControlId(choice);
        return ChoiceState{m_window.IsMarked(id), m_window.IsAvailable(id)};
    });
}

std::string QtWindowServices::ReadField(TextField field) {
    return OnWindowThread(
        [this, field] { return m_window.FieldText(FieldControlId(field)).toStdString(); });
}

void QtWindowServices::WriteField(TextField field, const std::string& text) {
    OnWindowThread([this, field, &text] {
        m_window.SetFieldText(FieldControlId(field), QString::fromStdString(text));
    });
}

void QtWindowServices::SetStatusLine(const std::string& text) {
    OnWindowThread([this, &text] { m_window.SetStatusText(QString::fromStdString(text)); });
}

void QtWindowServices::RefreshCursor() {
    OnWindowThread([this] { m_window.RefreshCursor(); });
}

void QtWindowServices::LockViewControls(bool locked) {
    OnWindowThread([this, locked] { m_window.LockViewControls(locked); });
}

void QtWindowServices::RestartTick() {
    OnWindowThread([this] { m_window.RestartTick(); });
}

MessageAnswer QtWindowServices::ShowMessageBox(const std::string& caption, const std::string& text,
                                               MessageIcon icon, MessageButtons buttons) {
    return OnWindowThread([&] {
        return m_window.ShowMessage(QString::fromStdString(caption), QString::fromStdString(text),
                                    icon, buttons);
    });
}

std::optional<std::string> QtWindowServices::ShowFileDialog(FileDialogKind kind,
                                                            const std::string& filter) {
    return OnWindowThread([&]() -> std::optional<std::string> {
        const std::optional<QString> path = m_window.RunFileDialog(kind, ToQtFileFilter(filter));
        if (!path) {
            return std::nullopt;
        }
        return path->toStdString();
    });
}

void QtWindowServices::ShowMemoryPage(const MemoryPageText& page) {
    OnWindowThread([this, &page] { m_window.ShowMemoryPage(page); });
}

}  // namespace koru

#include "window/production_recording.h"

#include <QMetaObject>
#include <QThread>

#include "operations/production_record.h"
#include "window/programmer_dlg.h"

namespace koru {
namespace {

constexpr int kStatusLineId = 157;

}  // namespace

WindowProductionRecord::WindowProductionRecord(
    CProgrammerDlg& window, std::function<void(const nlohmann::json&)> afterWrite)
    : m_window(window), m_afterWrite(std::move(afterWrite)) {
    SetAutoRunObserver([this](const AutoRunReport& report) { Record(report); });
}

WindowProductionRecord::~WindowProductionRecord() {
    SetAutoRunObserver({});
}

void WindowProductionRecord::Record(const AutoRunReport& report) {
    std::string reason;
    const nlohmann::json record = ProductionRecord(report);
    const bool written = m_log.Write(record, report.started, reason);
    if (m_afterWrite) {
        m_afterWrite(record);
    }
    if (written) {
        return;
    }
    const bool firstTime = !m_warned.exchange(true);
    if (QThread::currentThread() == m_window.thread()) {
        ReportFailure(reason, firstTime);
        return;
    }
    // The worker waits, as for every box it shows: the next chip starts after the operator saw it.
    QMetaObject::invokeMethod(
        &m_window, [&] { ReportFailure(reason, firstTime); }, Qt::BlockingQueuedConnection);
}

void WindowProductionRecord::ReportFailure(const std::string& reason, bool firstTime) {
    m_window.SetStatusText(m_window.FieldText(kStatusLineId) +
                           QString::fromUtf8(kRecordNotWrittenNote));
    if (firstTime) {
        m_window.ShowMessage(QString::fromUtf8(kRecordWarningCaption),
                             QString::fromUtf8(kRecordNotWrittenText) + "\n" +
                                 QString::fromStdString(reason) + "\n" +
                                 QString::fromUtf8(kRecordWarningTail),
                             MessageIcon::Warning, MessageButtons::Ok);
    }
}

}  // namespace koru

#include "tests/support/FakePrompter.h"

#include <QTest>

namespace {

class FakeProgressHandle : public ProgressHandle
{
public:
    explicit FakeProgressHandle(std::shared_ptr<FakePrompter::Progress> record)
        : m_record(std::move(record))
    {
    }
    void setLabelText(const QString &text) override { m_record->labels.append(text); }
    void setRange(int minimum, int maximum) override
    {
        m_record->minimum = minimum;
        m_record->maximum = maximum;
    }
    void setValue(int value) override { m_record->values.append(value); }
    bool wasCanceled() const override
    {
        return m_record->cancelAtValue >= 0 && !m_record->values.isEmpty()
            && m_record->values.last() >= m_record->cancelAtValue;
    }
    void close() override { m_record->closed = true; }

private:
    std::shared_ptr<FakePrompter::Progress> m_record;
};

QMessageBox::StandardButton firstButton(QMessageBox::StandardButtons buttons)
{
    for (int bit = 0; bit < 32; ++bit) {
        const auto b = static_cast<QMessageBox::StandardButton>(1u << bit);
        if (buttons.testFlag(b))
            return b;
    }
    return QMessageBox::NoButton;
}

} // namespace

FakePrompter::~FakePrompter() = default;

QString FakePrompter::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Information: return QStringLiteral("information");
    case Kind::Warning: return QStringLiteral("warning");
    case Kind::Critical: return QStringLiteral("critical");
    case Kind::Question: return QStringLiteral("question");
    }
    return QString();
}

void FakePrompter::expectMessage(Kind kind, const QString &title, const QString &text,
                                 QMessageBox::StandardButton answer)
{
    Expectation e;
    e.kind = kind;
    e.title = title;
    e.text = text;
    e.answer = answer;
    m_expected.enqueue(e);
}

void FakePrompter::expectFileDialog(const QString &answer)
{
    Expectation e;
    e.isFile = true;
    e.fileAnswer = answer;
    m_expected.enqueue(e);
}

void FakePrompter::cancelNextProgressAt(int value)
{
    m_nextCancelAt = value;
}

QStringList FakePrompter::shownTexts() const
{
    QStringList texts;
    for (const Shown &s : m_shown)
        texts.append(s.text);
    return texts;
}

int FakePrompter::pendingExpectations() const
{
    return m_expected.size();
}

void FakePrompter::clear()
{
    m_expected.clear();
    m_shown.clear();
    m_progresses.clear();
    m_unexpected = false;
}

void FakePrompter::fail(const QString &why)
{
    m_unexpected = true;
    QTest::qFail(qPrintable(why), __FILE__, __LINE__);
}

QMessageBox::StandardButton FakePrompter::showMessage(QWidget *parent, Kind kind,
                                                      const QString &title, const QString &text,
                                                      QMessageBox::StandardButtons buttons)
{
    m_shown.append({kindName(kind), title, text, buttons, QString(), parent != nullptr});
    const QString seen = QStringLiteral("%1 box \"%2\": \"%3\"").arg(kindName(kind), title, text);
    if (m_expected.isEmpty() || m_expected.head().isFile) {
        fail(QStringLiteral("unexpected ") + seen);
        return firstButton(buttons);
    }
    const Expectation e = m_expected.dequeue();
    if (e.kind != kind || (!e.title.isEmpty() && e.title != title)
        || (!e.text.isEmpty() && e.text != text)) {
        fail(QStringLiteral("expected %1 box \"%2\": \"%3\" but saw %4")
                 .arg(kindName(e.kind), e.title, e.text, seen));
    }
    return e.answer;
}

QMessageBox::StandardButton FakePrompter::ask(QWidget *parent, Kind kind, const QString &title,
                                              const QString &text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton)
{
    const qsizetype before = m_shown.size();
    const QMessageBox::StandardButton answer = showMessage(parent, kind, title, text, buttons);
    if (m_shown.size() > before)
        m_shown.last().defaultButton = defaultButton;
    return answer;
}

QMessageBox::StandardButton FakePrompter::confirmRun(QWidget *parent, Kind kind,
                                                     const QString &title, const QString &text,
                                                     QMessageBox::StandardButtons buttons,
                                                     QMessageBox::StandardButton defaultButton)
{
    const qsizetype before = m_shown.size();
    const QMessageBox::StandardButton answer = ask(parent, kind, title, text, buttons, defaultButton);
    if (m_shown.size() > before)
        m_shown.last().confirmation = true;
    return answer;
}

QMessageBox::StandardButton FakePrompter::askGuarding(GuardingQuestion question, QWidget *parent,
                                                      Kind kind, const QString &title,
                                                      const QString &text,
                                                      QMessageBox::StandardButtons buttons,
                                                      QMessageBox::StandardButton defaultButton)
{
    const qsizetype before = m_shown.size();
    const QMessageBox::StandardButton answer = ask(parent, kind, title, text, buttons, defaultButton);
    if (m_shown.size() > before)
        m_shown.last().guarding = question;
    return answer;
}

QString FakePrompter::getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                      const QString &filter)
{
    m_shown.append({QStringLiteral("file"), caption, dir, QMessageBox::NoButton, filter,
                    parent != nullptr});
    if (m_expected.isEmpty() || !m_expected.head().isFile) {
        fail(QStringLiteral("unexpected file dialog \"%1\"").arg(caption));
        return QString();
    }
    return m_expected.dequeue().fileAnswer;
}

std::unique_ptr<ProgressHandle> FakePrompter::openProgress(QWidget *parent, const QString &title,
                                                           const QString &label,
                                                           const QString &cancelText, int minimum,
                                                           int maximum)
{
    Q_UNUSED(cancelText);
    m_shown.append({QStringLiteral("progress"), title, label, QMessageBox::NoButton, QString(),
                    parent != nullptr});
    auto record = std::make_shared<Progress>();
    record->title = title;
    record->label = label;
    record->minimum = minimum;
    record->maximum = maximum;
    record->cancelAtValue = m_nextCancelAt;
    m_nextCancelAt = -1;
    m_progresses.append(record);
    return std::make_unique<FakeProgressHandle>(record);
}

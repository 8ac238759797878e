#pragma once

#include <QString>

#include <memory>

class ProgressHandle;
class Prompter;
class QWidget;

// The one progress dialog of a Vireo Player run: opened by the download,
// carried on through the steps after the player restarts. Every step is
// skipped while no dialog is open.
class VireoProgress
{
public:
    explicit VireoProgress(Prompter &prompter);
    ~VireoProgress();

    // Opens the dialog unless it is open: "Programming Controller...", 0 to 100.
    void open(QWidget *parent);
    bool isOpen() const { return bool(m_handle); }
    void close();

    void setLabel(const QString &label);
    void setMaximum(int maximum);
    void setValue(int value);
    // One step forward, or to the maximum; with a label when one is given.
    void step(bool toMaximum, const QString *label = nullptr);

    int value() const { return m_value; }
    int maximum() const { return m_maximum; }

private:
    Prompter &m_prompter;
    std::unique_ptr<ProgressHandle> m_handle;
    int m_value = 0;
    int m_maximum = 100;
};

#pragma once

#include "shell/counter16.h"
#include "shell/runtime_error.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace corvane {

// What the conversion changes on its screen.
class ConversionView {
public:
    virtual ~ConversionView() = default;
    virtual void setScreenEnabled(bool enabled) = 0;
    virtual void setOkButtonEnabled(bool enabled) = 0;
    virtual void setCaption(const QString& caption) = 0;
    virtual void setProgressText(const QString& text) = 0; // Label1
};

// Failures collected while deleting, shown one message box each at the end.
class ErrorList {
public:
    // Runs one step; a run-time error it raises is recorded and the caller goes on.
    void attempt(const std::function<void()>& step);
    // One box per failure, in order: "Error with " and the failure's description.
    void show() const;

private:
    QStringList m_texts;
};

// The files gathered for the next run of the zip tool: each as a blank and its entry.
struct Batch {
    QString text;
    Counter16 count;
    void add(const QString& entry) {
        text += u' ' + entry;
        ++count;
    }
};

// The conversion: three archive passes, the removal of the unpacked tree, and the
// installation of the three pk3 files. All work happens in the program folder.
class Conversion {
public:
    explicit Conversion(ConversionView& view) : m_view(view) {}

    // The whole sequence behind "Continue"; it always ends the program.
    void OKButton_Click();

    void RepackPak0();
    void RemoveTempTree();
    void RepackPak1();
    void RepackPak2();
    // Copies the three pk3 files into qfbastion under the Quake 3 folder, one box each.
    void InstallArchives();

    Counter16 TotalFiles;

private:
    void showTotal();
    // Hands the batch to the zip tool for `archiveName` and empties it.
    void flushBatch(const QString& archiveName, Batch& batch);

    ConversionView& m_view;
};

} // namespace corvane

#pragma once

#include "shell/counter16.h"
#include "shell/runtime_error.h"

#include <QString>
#include <QStringList>

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
    void record(const RuntimeError& error);
    bool isEmpty() const { return m_texts.isEmpty(); }
    // One box per failure, in order: "Error with " and the failure's description.
    void show() const;

private:
    QStringList m_texts;
    Counter16 m_count;
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
    void flushBatch(const QString& archiveName, QString& batchText, Counter16& batchCount);

    ConversionView& m_view;
};

} // namespace corvane

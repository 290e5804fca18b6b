// Every property of every class holding quotes, backslashes and line breaks still gives
// JavaScript that node accepts: the initialisers of the built page and the design scripts.

#include "KRControlTestSupport.h"

#include <model/KRClassRegistry.h>
#include <model/KRModelAdapter.h>
#include <platform/dom/DOMScriptHost.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

using namespace KRControlTest;

namespace {

const char *const kClasses[] = {"KRDiv", "KRLabel", "KRTextbox", "KRCheckbox", "KRRadioButton", "KRButton",
                                "KRTextArea", "KRSelect", "KRImage", "KRCanvas", "KRTable", "KRTimer",
                                "KRLocalDataSource", "JQMSlider", "JQMButton", "JQMTextbox", "JQMTextArea",
                                "JQMRadioButtonGroup", "JQMCheckboxGroup", "JQMSelect", "JQMSlideToggle"};

const QString kNasty = QStringLiteral("a\"b'c\\d\ne\r\nf</script>\u2028g\\|h|i");

} // namespace

TEST(KRControlScripts, HostileValuesInEveryPropertyGiveValidJavaScript)
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        GTEST_SKIP() << "node is not installed";
    const auto page = openPage(QString(), true);
    ASSERT_TRUE(page);
    QString contents;
    for (const char *name : kClasses) {
        const auto object = page->createNewObject(QString::fromLatin1(name), 0, 0, QString());
        ASSERT_TRUE(object) << name;
        for (const auto &adapter : object->modelAdapters()) {
            const QString key = adapter->descriptor().kr_propertyName();
            if (key != QLatin1String("kr_id"))
                object->setValue(key, kNasty);
        }
        contents += object->xmlElement().xmlString();
    }
    page->jqueryMobileLoaded();
    QCoreApplication::processEvents();

    QString script = QStringLiteral("'use strict';\nvar o = {};\n");
    const auto *host = dynamic_cast<DOMRecordingScriptHost *>(page->scriptHost());
    ASSERT_TRUE(host);
    for (const QString &design : host->evaluatedScripts())
        script += QStringLiteral("(function () {\n") + design + QStringLiteral("\n});\n");

    const auto built = openPage(contents, false);
    ASSERT_TRUE(built);
    int initialisers = 0;
    for (const auto &object : built->allObjects()) {
        if (object->isPage())
            continue;
        const auto inits = object->jsPropertyInitializations();
        for (const QString &property : inits.allKeys()) {
            script += QStringLiteral("o.%1_%2 = %3;\n").arg(object->kr_id(), property, inits.objectForKey(property));
            ++initialisers;
        }
    }
    EXPECT_GT(initialisers, 10);
    const QString path = KRTest::makeTempDir() + QStringLiteral("/controls.js");
    KRTest::writeFile(path, script.toUtf8());
    QProcess process;
    process.start(node, {QStringLiteral("--check"), path});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString() << "\n" << script.toStdString();
}

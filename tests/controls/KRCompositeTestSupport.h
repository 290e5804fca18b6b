#pragma once

// Helpers of the composite-control tests: projects with one page, golden files, scripts.

#include "../model/KRModelTestFixtures.h"
#include "../model/KRPageTestSupport.h"

#include <QString>

// Registers the control library and the page classes.
void krRegisterCompositeTestClasses();
// A project whose page "page1" holds the given KRContents children.
std::shared_ptr<KRProject> krOpenPageProject(const QString &contentsXML, bool designMode,
                                             std::shared_ptr<KRDocument> *documentOut = nullptr,
                                             const QString &settings = QStringLiteral("JQMVersion=\"1.4\""));
// Compares with tests/data/controls/golden/composite/<name>; a mismatch leaves "<name>.FAILED".
void krExpectGolden(const QString &name, const QString &actual);
// "name=initialiser" lines of the object's JavaScript initialisers.
QString krInitializerLines(const std::shared_ptr<KRObject> &object);
// Lets jQuery Mobile "load" in the page's design document and returns the scripts evaluated
// since the last call.
QStringList krRunDesignScripts(const std::shared_ptr<KRPage> &page);
// Whether node accepts the script (true when node is missing: the check is skipped).
bool krNodeAccepts(const QString &script, QString *errors = nullptr);
bool krHaveNode();

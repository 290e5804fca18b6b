#include "KRBuilderSetup.h"

#include <builder/KRPageOutput.h>
#include <controls/KRControlLibrary.h>
#include <controls/KRPlugin.h>
#include <model/KRObjectClass.h>
#include <model/KRPage.h>

void setUpProjectBuilder()
{
    KRPage::registerPageClass();
    registerControlLibrary();
    KRPageOutput::setPluginClassDataProvider([](const KRObjectClass &objectClass) {
        KRPageOutput::PluginClassData data;
        if (const KRPluginClassData *plugin = KRPlugin::subclassData(objectClass.className)) {
            data.pluginBasePath = plugin->pluginBasePath;
            // Full paths: a superclass's scripts lie in its own bundle.
            data.runtimeSource = KRPlugin::runtimeSourcePaths(objectClass.className);
        }
        return data;
    });
}

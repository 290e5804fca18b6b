// Opening a large project of real controls in design mode and changing their properties through
// the model, its XML and the design document. Targets: opening under 1 s; one property change
// under 20 us on average.

#include <bench/support/KRBenchSupport.h>
#include <controls/KRControlLibrary.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
#include <model/KRProject.h>

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kPages = 50;
constexpr int kObjectsPerPage = 40;

void registerClasses()
{
    KRLocalServerPort::setProvider([] { return qint64(4242); });
    KRPage::registerPageClass();
    registerControlLibrary();
}

// One element per object: plain controls and widgets in turn.
QByteArray objectXML(int o)
{
    const QByteArray n = QByteArray::number(o);
    const QByteArray geometry = " top=\"" + QByteArray::number(o * 12) + "\" left=\"" + n + "\" width=\"100\" height=\"30\"";
    switch (o % 5) {
    case 0:
        return "<KRLabel id=\"c" + n + "\"" + geometry + " color=\"red\" backgroundColor=\"#fff\">Label " + n + "</KRLabel>";
    case 1:
        return "<KRButton id=\"c" + n + "\"" + geometry + " value=\"Go " + n +
               "\" backgroundGradient=\"90deg, #8c8a88, #e2e2e2\" borderStyle=\"solid\" borderWidth=\"3\"/>";
    case 2:
        return "<KRTextbox id=\"c" + n + "\"" + geometry + " placeholder=\"Name\" borderRadius=\"10\"/>";
    case 3:
        return "<JQMSlider id=\"c" + n + "\"" + geometry + " min=\"0\" max=\"100\" label=\"Slider " + n + "\"/>";
    default:
        return "<JQMSelect id=\"c" + n + "\"" + geometry + " label=\"Pick\">a|A\nb|B\nc|C</JQMSelect>";
    }
}

QString writePackage(const QTemporaryDir &folder)
{
    return KRBench::writePackage(folder.path(), KRBench::generatedProjectXML(kPages, kObjectsPerPage, objectXML));
}

void BM_OpenControlProjectInDesignMode(benchmark::State &state)
{
    registerClasses();
    QTemporaryDir folder;
    KRBench::openRepeatedly(state, writePackage(folder), kPages, kObjectsPerPage, "open_ms", 1000);
}
BENCHMARK(BM_OpenControlProjectInDesignMode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Each iteration changes 10,000 properties spread over every page and object; the time per
// change is the counter "per_change". `keys` picks the properties changed.
void changeProperties(benchmark::State &state, const std::vector<const char *> &keys, const std::string &figure)
{
    registerClasses();
    QTemporaryDir folder;
    KRBench::changeProperties(state, writePackage(folder), keys, figure, 20);
}

// The style and geometry properties every control has.
void BM_ChangeControlProperties(benchmark::State &state)
{
    changeProperties(state, {"kr_top", "kr_left", "kr_color", "kr_backgroundColor", "kr_opacity", "kr_zIndex"}, "change_us");
}
BENCHMARK(BM_ChangeControlProperties)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Mixed with properties that rebuild a widget's inner markup (kr_value on every class).
void BM_ChangeControlPropertiesWithRebuilds(benchmark::State &state)
{
    changeProperties(state, {"kr_top", "kr_left", "kr_color", "kr_backgroundColor", "kr_value", "kr_zIndex"},
                     "change_with_rebuilds_us");
}
BENCHMARK(BM_ChangeControlPropertiesWithRebuilds)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

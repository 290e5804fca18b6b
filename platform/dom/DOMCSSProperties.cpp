#include "DOMCSSProperties.h"

#include <platform/foundation/KRLastingString.h>

#include <QHash>
#include <QSet>

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

const QString kInitial = QStringLiteral("initial");

// The text in lower case; shares the text (no copy) when it has no upper-case letter.
QString lowered(const QString &t)
{
    for (QChar c : t)
        if (c.isUpper())
            return t.toLower();
    return t;
}

using Kind = DOMCSSProperties::ShorthandKind;
using Known = DOMCSSProperties::Known;

struct Shorthand {
    Kind kind;
    QStringList longhands;
};

QStringList sides(const QString &prefix, const QString &suffix)
{
    return {prefix + QStringLiteral("top") + suffix, prefix + QStringLiteral("right") + suffix,
            prefix + QStringLiteral("bottom") + suffix, prefix + QStringLiteral("left") + suffix};
}

QStringList borderSide(const QString &side)
{
    const QString base = QStringLiteral("border-") + side;
    return {base + QStringLiteral("-width"), base + QStringLiteral("-style"), base + QStringLiteral("-color")};
}

struct Tables {
    QHash<QString, Shorthand> shorthands;
    QHash<QString, QStringList> shorthandsOf;
    QHash<QString, QString> aliases;
    QHash<QString, QSet<QString>> keywords;
    // Every name of the tables above, each canonical name with its entry.
    QHash<QString, Known> known;
    // The same entries by every name that stands for them, aliases included.
    QHash<QString, const Known *> names;

    Tables()
    {
        shorthands.insert(QStringLiteral("margin"), {Kind::Box, sides(QStringLiteral("margin-"), {})});
        shorthands.insert(QStringLiteral("padding"), {Kind::Box, sides(QStringLiteral("padding-"), {})});
        shorthands.insert(QStringLiteral("border-width"), {Kind::Box, sides(QStringLiteral("border-"), QStringLiteral("-width"))});
        shorthands.insert(QStringLiteral("border-style"), {Kind::Box, sides(QStringLiteral("border-"), QStringLiteral("-style"))});
        shorthands.insert(QStringLiteral("border-color"), {Kind::Box, sides(QStringLiteral("border-"), QStringLiteral("-color"))});
        QStringList all;
        for (const QString &side : {QStringLiteral("top"), QStringLiteral("right"), QStringLiteral("bottom"), QStringLiteral("left")}) {
            shorthands.insert(QStringLiteral("border-") + side, {Kind::BorderSide, borderSide(side)});
            all += borderSide(side);
        }
        shorthands.insert(QStringLiteral("border"), {Kind::Border, all});
        shorthands.insert(QStringLiteral("border-radius"),
                          {Kind::Radius, {QStringLiteral("border-top-left-radius"), QStringLiteral("border-top-right-radius"),
                                          QStringLiteral("border-bottom-right-radius"), QStringLiteral("border-bottom-left-radius")}});
        shorthands.insert(QStringLiteral("background"),
                          {Kind::Background, {QStringLiteral("background-image"), QStringLiteral("background-position"),
                                              QStringLiteral("background-size"), QStringLiteral("background-repeat"),
                                              QStringLiteral("background-attachment"), QStringLiteral("background-origin"),
                                              QStringLiteral("background-clip"), QStringLiteral("background-color")}});
        shorthands.insert(QStringLiteral("font"),
                          {Kind::Font, {QStringLiteral("font-style"), QStringLiteral("font-variant"), QStringLiteral("font-weight"),
                                        QStringLiteral("font-size"), QStringLiteral("line-height"), QStringLiteral("font-family")}});

        for (auto it = shorthands.cbegin(); it != shorthands.cend(); ++it)
            for (const QString &longhand : it->longhands)
                shorthandsOf[longhand].append(it.key());
        for (QStringList &list : shorthandsOf)
            std::sort(list.begin(), list.end(), [this](const QString &a, const QString &b) {
                const auto na = shorthands.value(a).longhands.size(), nb = shorthands.value(b).longhands.size();
                return na != nb ? na > nb : a < b;
            });

        const auto prefixed = [this](const QString &name) { aliases.insert(QStringLiteral("-webkit-") + name, name); };
        prefixed(QStringLiteral("border-radius"));
        prefixed(QStringLiteral("border-top-left-radius"));
        prefixed(QStringLiteral("border-top-right-radius"));
        prefixed(QStringLiteral("border-bottom-right-radius"));
        prefixed(QStringLiteral("border-bottom-left-radius"));
        prefixed(QStringLiteral("box-shadow"));
        prefixed(QStringLiteral("background-size"));
        prefixed(QStringLiteral("background-origin"));
        prefixed(QStringLiteral("background-clip"));

        // One keyword set per keyword-valued property.
        const QSet<QString> borderStyles{QStringLiteral("none"), QStringLiteral("hidden"), QStringLiteral("dotted"),
                                         QStringLiteral("dashed"), QStringLiteral("solid"), QStringLiteral("double"),
                                         QStringLiteral("groove"), QStringLiteral("ridge"), QStringLiteral("inset"),
                                         QStringLiteral("outset")};
        for (const QString &name : sides(QStringLiteral("border-"), QStringLiteral("-style")))
            keywords.insert(name, borderStyles);
        const auto set = [this](const char *name, const char *words) {
            QSet<QString> values;
            for (const QString &w : QString::fromLatin1(words).split(QLatin1Char(' ')))
                values.insert(w);
            keywords.insert(QString::fromLatin1(name), values);
        };
        set("display", "inline block list-item inline-block table inline-table table-row-group table-header-group "
                       "table-footer-group table-row table-column-group table-column table-cell table-caption none "
                       "flex inline-flex grid inline-grid contents flow-root -webkit-box -webkit-inline-box "
                       "-webkit-flex -webkit-inline-flex run-in compact");
        set("position", "static relative absolute fixed sticky -webkit-sticky");
        set("visibility", "visible hidden collapse");
        set("float", "left right none");
        set("clear", "left right both none");
        set("text-align", "left right center justify start end -webkit-left -webkit-right -webkit-center -webkit-auto");
        set("font-style", "normal italic oblique");
        set("font-weight", "normal bold bolder lighter 100 200 300 400 500 600 700 800 900");
        set("overflow", "visible hidden scroll auto overlay clip");
        set("overflow-x", "visible hidden scroll auto overlay clip");
        set("overflow-y", "visible hidden scroll auto overlay clip");
        set("white-space", "normal pre nowrap pre-wrap pre-line break-spaces");
        set("box-sizing", "content-box border-box");
        set("background-attachment", "scroll fixed local");

        // The entries are made first and linked after: the table does not grow any more then,
        // so their places stay.
        const auto add = [this](const QString &name) {
            if (!known.contains(name))
                known.insert(name, Known{});
        };
        for (auto it = shorthands.cbegin(); it != shorthands.cend(); ++it) {
            add(it.key());
            for (const QString &longhand : it->longhands)
                add(longhand);
        }
        for (auto it = keywords.cbegin(); it != keywords.cend(); ++it)
            add(it.key());
        for (const QString &target : std::as_const(aliases))
            add(target);
        for (auto it = known.begin(); it != known.end(); ++it) {
            Known &k = it.value();
            // Stored in the declarations of every page: a name that counts no references.
            k.name = KRLastingString::of(it.key());
            if (const auto s = shorthands.constFind(it.key()); s != shorthands.cend()) {
                k.kind = s->kind;
                for (const QString &longhand : s->longhands)
                    k.longhands.push_back(&known.find(longhand).value());
            }
            for (const QString &shorthand : shorthandsOf.value(it.key()))
                k.shorthands.push_back(&known.find(shorthand).value());
            if (const auto w = keywords.constFind(it.key()); w != keywords.cend()) {
                k.keywords = &w.value();
                k.keywordList = w->values();
            }
        }
        for (auto it = known.cbegin(); it != known.cend(); ++it)
            names.insert(it.key(), &it.value());
        for (auto it = aliases.cbegin(); it != aliases.cend(); ++it)
            names.insert(it.key(), &known.find(it.value()).value());
    }
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

// The entry of the name in one of the (never changing) tables, null when none. The names
// asked for last are remembered per thread: styles set the same few names over and over, and
// comparing a name costs less than hashing it. A remembered answer is found by where the
// name's characters and the table lie and used only when table and name both match in full.
template <typename Table>
const typename Table::mapped_type *findRemembered(const Table &table, const QString &name)
{
    struct Entry
    {
        const void *table = nullptr;
        QString name;
        const typename Table::mapped_type *value = nullptr;
    };
    // Two places for each spot, so that two names whose characters lie at colliding addresses
    // do not push each other out on every write.
    constexpr unsigned kPairBits = 5;
    thread_local std::array<Entry, std::size_t(2) << kPairBits> entries;
    const std::uint64_t bits = (std::uint64_t(reinterpret_cast<std::uintptr_t>(name.constData())) * 0x9E3779B97F4A7C15u)
        ^ std::uint64_t(reinterpret_cast<std::uintptr_t>(&table));
    Entry *const pair = &entries[((bits * 0x9E3779B97F4A7C15u) >> (64 - kPairBits)) * 2];
    for (int place = 0; place < 2; ++place) {
        if (pair[place].table == &table && pair[place].name == name)
            return pair[place].value;
    }
    const auto it = table.constFind(name);
    // The newest answer first; the one it replaces there stays second.
    pair[1] = std::move(pair[0]);
    pair[0] = Entry{&table, name, it == table.cend() ? nullptr : &*it};
    return pair[0].value;
}

// Calls visit with each word of a value: words are parted by white space outside quotes and
// brackets, and a "/" at the top level is a word of its own.
template <typename Visit>
void forEachToken(QStringView value, Visit &&visit)
{
    int depth = 0;
    QChar quote;
    qsizetype start = -1;
    const qsizetype n = value.size();
    const auto flush = [&](qsizetype end) {
        if (start >= 0 && end > start)
            visit(value.sliced(start, end - start));
        start = -1;
    };
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = value.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (depth == 0 && c.isSpace()) {
            flush(i);
            continue;
        }
        if (depth == 0 && c == QLatin1Char('/')) {
            flush(i);
            visit(QStringView(u"/"));
            continue;
        }
        if (start < 0)
            start = i;
        if (c == QLatin1Char('"') || c == QLatin1Char('\''))
            quote = c;
        else if (c == QLatin1Char('('))
            ++depth;
        else if (c == QLatin1Char(')'))
            --depth;
    }
    flush(n);
}

// Whether an ASCII text is the word (lower case) in any case.
template <typename Word>
bool isWordInAnyCase(QStringView t, const Word &word)
{
    if (word.size() != t.size())
        return false;
    const QChar *text = t.constData();
    for (qsizetype i = 0; i < word.size(); ++i) {
        char16_t c = text[i].unicode();
        if (c >= u'A' && c <= u'Z')
            c += u'a' - u'A';
        if (c != char16_t(word[i].unicode()))
            return false;
    }
    return true;
}

bool isASCII(QStringView t)
{
    return std::all_of(t.cbegin(), t.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

// Whether the text is one of the words (lower case), in any case. An ASCII text (nearly every
// one) is compared with them in place; any other is lowered first, as ever.
bool isAnyOf(QStringView t, std::initializer_list<QLatin1StringView> words)
{
    if (!isASCII(t)) {
        const QString l = t.toString().toLower();
        return std::any_of(words.begin(), words.end(), [&l](QLatin1StringView word) { return l == word; });
    }
    return std::any_of(words.begin(), words.end(), [&t](QLatin1StringView word) { return isWordInAnyCase(t, word); });
}

bool isBorderStyle(QStringView t)
{
    return isAnyOf(t, {QLatin1StringView("none"), QLatin1StringView("hidden"), QLatin1StringView("dotted"),
                       QLatin1StringView("dashed"), QLatin1StringView("solid"), QLatin1StringView("double"),
                       QLatin1StringView("groove"), QLatin1StringView("ridge"), QLatin1StringView("inset"),
                       QLatin1StringView("outset")});
}

bool isLength(QStringView t)
{
    if (t.isEmpty())
        return false;
    const QChar c = t.at(0);
    if (c.isDigit() || c == QLatin1Char('.'))
        return true;
    if ((c == QLatin1Char('-') || c == QLatin1Char('+')) && t.size() > 1 && (t.at(1).isDigit() || t.at(1) == QLatin1Char('.')))
        return true;
    if (isASCII(t)) // lowering and folding agree on ASCII letters
        return t.startsWith(QLatin1String("calc("), Qt::CaseInsensitive)
            || t.startsWith(QLatin1String("-webkit-calc("), Qt::CaseInsensitive);
    const QString l = lowered(t.toString());
    return l.startsWith(QLatin1String("calc(")) || l.startsWith(QLatin1String("-webkit-calc("));
}

bool isBorderWidth(QStringView t)
{
    return isLength(t) || isAnyOf(t, {QLatin1StringView("thin"), QLatin1StringView("medium"), QLatin1StringView("thick")});
}

bool isImage(const QString &t)
{
    const QString l = lowered(t);
    return l == QLatin1String("none") || l.startsWith(QLatin1String("url(")) || l.contains(QLatin1String("gradient("))
        || l.startsWith(QLatin1String("image-set(")) || l.startsWith(QLatin1String("-webkit-image-set("))
        || l.startsWith(QLatin1String("-webkit-canvas("));
}

bool isPosition(const QString &t)
{
    const QString l = lowered(t);
    return isLength(t) || l == QLatin1String("left") || l == QLatin1String("right") || l == QLatin1String("top")
        || l == QLatin1String("bottom") || l == QLatin1String("center");
}

bool isRepeat(const QString &t)
{
    const QString l = lowered(t);
    return l == QLatin1String("repeat") || l == QLatin1String("repeat-x") || l == QLatin1String("repeat-y")
        || l == QLatin1String("no-repeat") || l == QLatin1String("space") || l == QLatin1String("round");
}

bool isAttachment(const QString &t)
{
    const QString l = lowered(t);
    return l == QLatin1String("scroll") || l == QLatin1String("fixed") || l == QLatin1String("local");
}

bool isBox(const QString &t)
{
    const QString l = lowered(t);
    return l == QLatin1String("border-box") || l == QLatin1String("padding-box") || l == QLatin1String("content-box");
}

bool isInitial(const QString &v)
{
    return v.compare(kInitial, Qt::CaseInsensitive) == 0;
}

QString composeBox(const QStringList &v)
{
    if (v.at(3) == v.at(1)) {
        if (v.at(2) == v.at(0))
            return v.at(1) == v.at(0) ? v.at(0) : v.at(0) + QLatin1Char(' ') + v.at(1);
        return v.at(0) + QLatin1Char(' ') + v.at(1) + QLatin1Char(' ') + v.at(2);
    }
    return v.join(QLatin1Char(' '));
}

std::optional<QStringList> expandBox(const QString &value)
{
    const QStringList t = DOMCSSProperties::splitTokens(value);
    switch (t.size()) {
    case 1: return QStringList{t[0], t[0], t[0], t[0]};
    case 2: return QStringList{t[0], t[1], t[0], t[1]};
    case 3: return QStringList{t[0], t[1], t[2], t[1]};
    case 4: return t;
    default: return std::nullopt;
    }
}

// width, style, color of one border side.
std::optional<QStringList> expandBorderSide(const QString &value)
{
    QStringView words[3];
    bool seen[3] = {false, false, false};
    bool repeated = false;
    forEachToken(value, [&](QStringView token) {
        const int slot = isBorderStyle(token) ? 1 : (isBorderWidth(token) ? 0 : 2);
        repeated = repeated || seen[slot];
        seen[slot] = true;
        words[slot] = token;
    });
    if (repeated)
        return std::nullopt;
    QStringList out;
    out.reserve(3);
    for (int slot = 0; slot < 3; ++slot)
        out.append(!seen[slot] ? kInitial : words[slot].size() == value.size() ? value : words[slot].toString());
    return out;
}

QString composeBorderSide(const QStringList &wsc)
{
    QStringList parts;
    for (const QString &v : wsc)
        if (!isInitial(v))
            parts.append(v);
    return parts.isEmpty() ? kInitial : parts.join(QLatin1Char(' '));
}

struct BackgroundLayer {
    QString image, position, size, repeat, attachment, origin, clip, color;
};

std::optional<BackgroundLayer> parseBackgroundLayer(const QString &text, bool last)
{
    BackgroundLayer layer;
    const QStringList tokens = DOMCSSProperties::splitTokens(text);
    for (int i = 0; i < tokens.size(); ++i) {
        const QString &t = tokens.at(i);
        if (isImage(t)) {
            if (!layer.image.isEmpty())
                return std::nullopt;
            layer.image = t;
        } else if (isPosition(t)) {
            if (!layer.position.isEmpty())
                return std::nullopt;
            QStringList pos{t};
            while (i + 1 < tokens.size() && isPosition(tokens.at(i + 1)) && pos.size() < 4)
                pos.append(tokens.at(++i));
            layer.position = pos.join(QLatin1Char(' '));
            if (i + 1 < tokens.size() && tokens.at(i + 1) == QLatin1String("/")) {
                QStringList size;
                ++i;
                while (i + 1 < tokens.size() && size.size() < 2
                       && (isLength(tokens.at(i + 1)) || tokens.at(i + 1) == QLatin1String("auto")
                           || tokens.at(i + 1) == QLatin1String("cover") || tokens.at(i + 1) == QLatin1String("contain")))
                    size.append(tokens.at(++i));
                if (size.isEmpty())
                    return std::nullopt;
                layer.size = size.join(QLatin1Char(' '));
            }
        } else if (isRepeat(t)) {
            if (!layer.repeat.isEmpty())
                return std::nullopt;
            layer.repeat = t;
            if (i + 1 < tokens.size() && isRepeat(tokens.at(i + 1)))
                layer.repeat += QLatin1Char(' ') + tokens.at(++i);
        } else if (isAttachment(t)) {
            if (!layer.attachment.isEmpty())
                return std::nullopt;
            layer.attachment = t;
        } else if (isBox(t)) {
            if (layer.origin.isEmpty())
                layer.origin = layer.clip = t;
            else if (layer.clip == layer.origin && !layer.clip.isEmpty() && i > 0 && isBox(tokens.at(i - 1)))
                layer.clip = t;
            else
                return std::nullopt;
        } else if (t == QLatin1String("/")) {
            return std::nullopt;
        } else {
            if (!last || !layer.color.isEmpty())
                return std::nullopt;
            layer.color = t;
        }
    }
    return layer;
}

const QStringList &backgroundInitials()
{
    static const QStringList initials{QStringLiteral("none"), QStringLiteral("0% 0%"), QStringLiteral("auto"),
                                      QStringLiteral("repeat"), QStringLiteral("scroll"), QStringLiteral("padding-box"),
                                      QStringLiteral("border-box"), QStringLiteral("transparent")};
    return initials;
}

std::optional<QStringList> expandBackground(const QString &value)
{
    const QStringList layers = DOMCSSProperties::splitTopLevel(value, QLatin1Char(','));
    if (layers.contains(QString()))
        return std::nullopt;
    const bool single = layers.size() == 1;
    QStringList perLonghand[8];
    for (int i = 0; i < layers.size(); ++i) {
        const auto layer = parseBackgroundLayer(layers.at(i), i == layers.size() - 1);
        if (!layer)
            return std::nullopt;
        const QString values[8] = {layer->image, layer->position, layer->size, layer->repeat,
                                   layer->attachment, layer->origin, layer->clip, layer->color};
        for (int k = 0; k < 7; ++k)
            perLonghand[k].append(values[k].isEmpty() ? (single ? kInitial : backgroundInitials().at(k)) : values[k]);
        if (i == layers.size() - 1)
            perLonghand[7].append(values[7].isEmpty() ? kInitial : values[7]);
    }
    QStringList out;
    for (const QStringList &l : perLonghand)
        out.append(l.join(QStringLiteral(", ")));
    return out;
}

QString composeBackground(const QStringList &values)
{
    QList<QStringList> split;
    for (int k = 0; k < 7; ++k)
        split.append(DOMCSSProperties::splitTopLevel(values.at(k), QLatin1Char(',')));
    const qsizetype layers = split.at(0).size();
    for (const QStringList &l : split)
        if (l.size() != layers)
            return {};
    const auto given = [](const QString &v, int k) { return !isInitial(v) && !(v == backgroundInitials().at(k) && k != 0); };
    QStringList out;
    for (qsizetype i = 0; i < layers; ++i) {
        QStringList parts;
        const QString &image = split[0][i], &position = split[1][i], &size = split[2][i], &repeat = split[3][i],
                      &attachment = split[4][i], &origin = split[5][i], &clip = split[6][i];
        if (!isInitial(image) && !(layers > 1 && image == QLatin1String("none")))
            parts.append(image);
        if (given(size, 2))
            parts.append((given(position, 1) ? position : backgroundInitials().at(1)) + QStringLiteral(" / ") + size);
        else if (given(position, 1))
            parts.append(position);
        if (given(repeat, 3))
            parts.append(repeat);
        if (given(attachment, 4))
            parts.append(attachment);
        const bool o = given(origin, 5), c = given(clip, 6);
        if (o && c && origin == clip)
            parts.append(origin);
        else if (o || c)
            parts.append((o ? origin : backgroundInitials().at(5)) + QLatin1Char(' ') + (c ? clip : backgroundInitials().at(6)));
        if (i == layers - 1 && !isInitial(values.at(7)))
            parts.append(values.at(7));
        out.append(parts.isEmpty() ? QStringLiteral("none") : parts.join(QLatin1Char(' ')));
    }
    return out.join(QStringLiteral(", "));
}

bool isFontSize(const QString &t)
{
    static const QSet<QString> keywords{QStringLiteral("xx-small"), QStringLiteral("x-small"), QStringLiteral("small"),
                                        QStringLiteral("medium"), QStringLiteral("large"), QStringLiteral("x-large"),
                                        QStringLiteral("xx-large"), QStringLiteral("larger"), QStringLiteral("smaller")};
    return isLength(t) || keywords.contains(lowered(t));
}

// style, variant, weight, size, line-height, family.
std::optional<QStringList> expandFont(const QString &value)
{
    const QString normal = QStringLiteral("normal");
    QStringList out{normal, normal, normal, QString(), normal, QString()};
    int pos = 0;
    const int n = int(value.size());
    const auto nextToken = [&]() {
        while (pos < n && value.at(pos).isSpace())
            ++pos;
        const int start = pos;
        while (pos < n && !value.at(pos).isSpace() && value.at(pos) != QLatin1Char('/'))
            ++pos;
        return value.mid(start, pos - start);
    };
    while (pos < n) {
        const QString t = nextToken();
        const QString l = lowered(t);
        if (t.isEmpty())
            return std::nullopt;
        if (l == QLatin1String("normal"))
            continue;
        if (l == QLatin1String("italic") || l == QLatin1String("oblique")) {
            out[0] = t;
        } else if (l == QLatin1String("small-caps")) {
            out[1] = t;
        } else if (l == QLatin1String("bold") || l == QLatin1String("bolder") || l == QLatin1String("lighter")
                   || (t.size() == 3 && t.endsWith(QLatin1String("00")) && t.at(0) >= QLatin1Char('1') && t.at(0) <= QLatin1Char('9'))) {
            out[2] = t;
        } else if (isFontSize(t)) {
            out[3] = t;
            while (pos < n && value.at(pos).isSpace())
                ++pos;
            if (pos < n && value.at(pos) == QLatin1Char('/')) {
                ++pos;
                const QString lh = nextToken();
                if (lh.isEmpty())
                    return std::nullopt;
                out[4] = lh;
            }
            out[5] = value.mid(pos).trimmed();
            if (out[5].isEmpty())
                return std::nullopt;
            return out;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

QString composeFont(const QStringList &v)
{
    if (isInitial(v.at(3)) || isInitial(v.at(5)))
        return {};
    QStringList parts;
    for (int k = 0; k < 3; ++k)
        if (!isInitial(v.at(k)) && v.at(k) != QLatin1String("normal"))
            parts.append(v.at(k));
    QString size = v.at(3);
    if (!isInitial(v.at(4)) && v.at(4) != QLatin1String("normal"))
        size += QLatin1Char('/') + v.at(4);
    parts.append(size);
    parts.append(v.at(5));
    return parts.join(QLatin1Char(' '));
}

std::optional<QStringList> expandRadius(const QString &value)
{
    const QStringList halves = DOMCSSProperties::splitTopLevel(value, QLatin1Char('/'));
    if (halves.size() > 2)
        return std::nullopt;
    const auto h = expandBox(halves.at(0));
    if (!h)
        return std::nullopt;
    QStringList out = *h;
    if (halves.size() == 2) {
        const auto v = expandBox(halves.at(1));
        if (!v)
            return std::nullopt;
        for (int i = 0; i < 4; ++i)
            if (v->at(i) != h->at(i))
                out[i] = h->at(i) + QLatin1Char(' ') + v->at(i);
    }
    return out;
}

QString composeRadius(const QStringList &v)
{
    QStringList h, vert;
    bool elliptic = false;
    for (const QString &corner : v) {
        const QStringList t = DOMCSSProperties::splitTokens(corner);
        if (t.isEmpty() || t.size() > 2)
            return {};
        h.append(t.at(0));
        vert.append(t.value(1, t.at(0)));
        elliptic = elliptic || t.size() == 2;
    }
    return elliptic ? composeBox(h) + QStringLiteral(" / ") + composeBox(vert) : composeBox(h);
}

} // namespace

QString DOMCSSProperties::canonicalName(const QString &name)
{
    return canonicalName(name, nullptr);
}

QString DOMCSSProperties::canonicalName(const QString &name, const Known **known)
{
    QString n = trimmed(name);
    if (known)
        *known = nullptr;
    if (n.size() >= 2 && n.at(0) == u'-' && n.at(1) == u'-')
        return n;
    for (QChar c : std::as_const(n))
        if (c.isUpper()) {
            n = n.toLower();
            break;
        }
    const Known *const *found = findRemembered(tables().names, n);
    if (!found)
        return n;
    if (known)
        *known = *found;
    // An alias gives the name it stands for; a name of its own is kept as it came.
    return (*found)->name.size() == n.size() && (*found)->name == n ? n : (*found)->name;
}

const QStringList *DOMCSSProperties::longhands(const QString &canonicalName)
{
    const auto *shorthand = findRemembered(tables().shorthands, canonicalName);
    return shorthand ? &shorthand->longhands : nullptr;
}

const QStringList &DOMCSSProperties::shorthandsOf(const QString &canonicalName)
{
    static const QStringList none;
    const QStringList *shorthands = findRemembered(tables().shorthandsOf, canonicalName);
    return shorthands ? *shorthands : none;
}

bool DOMCSSProperties::isCSSWideKeyword(const QString &value)
{
    // Equal texts have equal lengths, in any case: most values are none of the four at once.
    if (value.size() < 5 || value.size() > 7)
        return false;
    if (isASCII(value)) {
        return isWordInAnyCase(value, QLatin1StringView("inherit")) || isWordInAnyCase(value, QLatin1StringView("initial"))
            || isWordInAnyCase(value, QLatin1StringView("unset")) || isWordInAnyCase(value, QLatin1StringView("revert"));
    }
    return value.compare(QLatin1String("inherit"), Qt::CaseInsensitive) == 0 || isInitial(value)
        || value.compare(QLatin1String("unset"), Qt::CaseInsensitive) == 0
        || value.compare(QLatin1String("revert"), Qt::CaseInsensitive) == 0;
}

std::optional<QStringList> DOMCSSProperties::expand(const QString &shorthand, const QString &value)
{
    const Known *const *found = findRemembered(tables().names, shorthand);
    if (!found || !(*found)->isShorthand() || (*found)->name != shorthand)
        return std::nullopt;
    return expand(**found, value);
}

std::optional<QStringList> DOMCSSProperties::expand(const Known &shorthand, const QString &value)
{
    std::optional<QStringList> values = expandRepeating(shorthand, value);
    if (values && std::size_t(values->size()) < shorthand.longhands.size()) {
        const qsizetype period = values->size();
        values->reserve(qsizetype(shorthand.longhands.size()));
        for (std::size_t i = std::size_t(period); i < shorthand.longhands.size(); ++i)
            values->append(values->at(qsizetype(i) % period));
    }
    return values;
}

std::optional<QStringList> DOMCSSProperties::expandRepeating(const Known &shorthand, const QString &value)
{
    if (!shorthand.isShorthand())
        return std::nullopt;
    const std::size_t longhands = shorthand.longhands.size();
    std::optional<QStringList> values;
    // How many values the longhands take before they repeat.
    std::size_t period = longhands;
    if (isCSSWideKeyword(value)) {
        values = QStringList{value};
        period = 1;
    } else {
        switch (shorthand.kind) {
        case Kind::None: break;
        case Kind::Box: values = expandBox(value); break;
        case Kind::BorderSide: values = expandBorderSide(value); break;
        case Kind::Border:
            // The four sides take the same width, style and colour.
            values = expandBorderSide(value);
            period = 3;
            break;
        case Kind::Radius: values = expandRadius(value); break;
        case Kind::Background: values = expandBackground(value); break;
        case Kind::Font: values = expandFont(value); break;
        }
    }
    if (!values || std::size_t(values->size()) != period || !isValidValue(&shorthand, shorthand.name, value))
        return std::nullopt;
    // Values that repeat are checked once, for the first longhands that take them.
    for (std::size_t i = 0; i < period; ++i) {
        const Known *longhand = shorthand.longhands[i];
        if (longhand->keywords && !isValidValue(longhand, longhand->name, values->at(qsizetype(i))))
            return std::nullopt;
    }
    return values;
}

QString DOMCSSProperties::compose(const QString &shorthand, const QStringList &values)
{
    const Known *const *found = findRemembered(tables().names, shorthand);
    if (!found || (*found)->name != shorthand)
        return {};
    return compose(**found, values);
}

QString DOMCSSProperties::compose(const Known &shorthand, const QStringList &values)
{
    if (!shorthand.isShorthand() || std::size_t(values.size()) != shorthand.longhands.size())
        return {};
    const Kind kind = shorthand.kind;
    int keywords = 0;
    for (const QString &v : values)
        keywords += isCSSWideKeyword(v) ? 1 : 0;
    if (keywords == values.size())
        return values.count(values.first()) == values.size() ? values.first() : QString();
    if (keywords > 0 && kind != Kind::BorderSide && kind != Kind::Border && kind != Kind::Background
        && kind != Kind::Font)
        return {};
    // Only "initial" (a part the shorthand left out) mixes with given values.
    for (const QString &v : values)
        if (isCSSWideKeyword(v) && !isInitial(v))
            return {};
    switch (kind) {
    case Kind::None: return {};
    case Kind::Box: return composeBox(values);
    case Kind::BorderSide: return composeBorderSide(values);
    case Kind::Border: {
        const QStringList top = values.mid(0, 3);
        for (int side = 1; side < 4; ++side)
            if (values.mid(side * 3, 3) != top)
                return {};
        return composeBorderSide(top);
    }
    case Kind::Radius: return composeRadius(values);
    case Kind::Background: return composeBackground(values);
    case Kind::Font: return composeFont(values);
    }
    return {};
}

namespace {

// Whether the value is one of the property's keywords, in any case. An ASCII value (nearly
// every one) is compared with the words of its length directly, without a lowered copy and
// its hash; any other is lowered as ever.
bool isKeyword(const Known &known, const QString &value)
{
    if (!isASCII(value))
        return known.keywords->contains(lowered(value));
    return std::any_of(known.keywordList.cbegin(), known.keywordList.cend(),
                       [&value](const QString &word) { return isWordInAnyCase(value, word); });
}

} // namespace

bool DOMCSSProperties::isValidValue(const QString &canonicalName, const QString &value)
{
    const Known *const *found = findRemembered(tables().names, canonicalName);
    return isValidValue(found && (*found)->name == canonicalName ? *found : nullptr, canonicalName, value);
}

bool DOMCSSProperties::isValidValue(const Known *known, const QString &canonicalName, const QString &value)
{
    if (value.isEmpty())
        return false;
    int depth = 0;
    QChar quote;
    for (QChar c : value) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('\''))
            quote = c;
        else if (c == QLatin1Char('(') || c == QLatin1Char('['))
            ++depth;
        else if (c == QLatin1Char(')') || c == QLatin1Char(']')) {
            if (--depth < 0)
                return false;
        } else if (c == QLatin1Char(';') || c == QLatin1Char('{') || c == QLatin1Char('}')
                   || (c == QLatin1Char('!') && depth == 0))
            return false;
    }
    if (depth != 0 || !quote.isNull())
        return false;
    const QSet<QString> *keywords = known ? known->keywords : nullptr;
    if (!keywords || isCSSWideKeyword(value))
        return true;
    if (canonicalName.startsWith(QLatin1String("background-")) && value.contains(QLatin1Char(','))) {
        for (const QString &layer : splitTopLevel(value, QLatin1Char(',')))
            if (!keywords->contains(lowered(layer)))
                return false;
        return true;
    }
    return isKeyword(*known, value);
}

QStringList DOMCSSProperties::splitTokens(const QString &value)
{
    QStringList out;
    out.reserve(4); // most values have at most four words
    forEachToken(value, [&](QStringView token) {
        out.append(token.size() == value.size() ? value : token.toString());
    });
    return out;
}

QStringList DOMCSSProperties::splitTopLevel(const QString &value, QChar separator)
{
    QStringList out;
    int depth = 0;
    QChar quote;
    qsizetype start = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (c == QLatin1Char('(')) {
            ++depth;
        } else if (c == QLatin1Char(')')) {
            --depth;
        } else if (depth == 0 && c == separator) {
            out.append(value.mid(start, i - start).trimmed());
            start = i + 1;
        }
    }
    out.append(value.mid(start).trimmed());
    return out;
}

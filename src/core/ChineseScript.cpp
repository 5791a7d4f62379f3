#include "core/ChineseScript.h"

#include <opencc.h>

#include <memory>
#include <mutex>

namespace zvrd {
namespace {

struct OpenccCloser {
    void operator()(opencc_t handle) const {
        if (handle != reinterpret_cast<opencc_t>(-1))
            opencc_close(handle);
    }
};
using Converter = std::unique_ptr<std::remove_pointer_t<opencc_t>, OpenccCloser>;

// Loading a configuration reads its dictionaries: once per process and script. One conversion
// at a time per converter.
struct Loaded {
    std::mutex lock;
    Converter converter;
    bool tried = false;
};

Loaded& loaded(ChineseScript script) {
    static Loaded simplified;
    static Loaded traditional;
    return script == ChineseScript::Simplified ? simplified : traditional;
}

} // namespace

QString inScript(const QString& text, ChineseScript script) {
    if (script == ChineseScript::Original || text.isEmpty())
        return text;
    Loaded& l = loaded(script);
    std::lock_guard guard(l.lock);
    if (!l.tried) {
        l.tried = true;
        const opencc_t handle =
            opencc_open(script == ChineseScript::Simplified ? "t2s.json" : "s2t.json");
        if (handle != reinterpret_cast<opencc_t>(-1))
            l.converter.reset(handle);
    }
    if (!l.converter)
        return text;
    const QByteArray utf8 = text.toUtf8();
    char* converted =
        opencc_convert_utf8(l.converter.get(), utf8.constData(), static_cast<size_t>(utf8.size()));
    if (!converted)
        return text;
    const std::unique_ptr<char, void (*)(char*)> owned(converted, opencc_convert_utf8_free);
    return QString::fromUtf8(owned.get());
}

QStringList inScript(const QStringList& texts, ChineseScript script) {
    if (script == ChineseScript::Original)
        return texts;
    QStringList out;
    out.reserve(texts.size());
    for (const QString& text : texts)
        out.append(inScript(text, script));
    return out;
}

} // namespace zvrd

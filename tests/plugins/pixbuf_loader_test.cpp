// The GdkPixbuf loader as GTK programs reach it: through a loader cache and
// a MIME database that name it (private ones, made here), whole files,
// loaders fed a byte at a time, saving, and the thumbnailer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "tests/malformed/Cases.h"
#include "tests/plugins/PluginCases.h"
#include "tests/support/TestFiles.h"

namespace qel::testing {
namespace {

// Made once, before GdkPixbuf first reads them; every test asserts on them,
// so that caches that cannot be made fail the tests rather than skip them.
bool cachesReady() {
    static const ScopedWorkDir dir;
    static const bool ready = [] {
        const std::string root = dir.path().string();
        const std::string mime = root + "/mime";
        const std::string make = "mkdir -p " + mime + "/packages && cp " QEL_MIME_XML " " + mime + "/packages/ && " +
                                 "update-mime-database " + mime + " >/dev/null && " QEL_CHILD_ENV " " QEL_QUERY_LOADERS
                                 " " QEL_PIXBUF_LOADER " > " + root + "/loaders.cache";
        setenv("XDG_DATA_HOME", root.c_str(), 1);
        setenv("GDK_PIXBUF_MODULE_FILE", (root + "/loaders.cache").c_str(), 1);
        return std::system(make.c_str()) == 0;
    }();
    return ready;
}

// What GdkPixbuf gave (both taken over): the RGBA picture, or the error's
// message. A pixbuf without alpha gives no pixels. The error is read here,
// after the call that sets it.
Shown given(GdkPixbuf* pixbuf, GError*& error) {
    Shown got;
    got.refusal = error ? error->message : pixbuf ? "" : "neither a picture nor an error";
    if (pixbuf && gdk_pixbuf_get_has_alpha(pixbuf)) {
        got.width = gdk_pixbuf_get_width(pixbuf);
        got.height = gdk_pixbuf_get_height(pixbuf);
        for (int y = 0; y < got.height; ++y) {
            const guint8* row = gdk_pixbuf_read_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf);
            got.rgba.insert(got.rgba.end(), row, row + got.width * 4);
        }
    }
    if (pixbuf) g_object_unref(pixbuf);
    g_clear_error(&error);
    return got;
}

void expectShown(const Shown& got, const PluginCase& c) {
    EXPECT_TRUE(samePicture(got, c.expected)) << got.refusal;
    // An empty file is refused by GdkPixbuf before any loader is asked.
    if (!c.file.empty() && !c.expected.ok()) {
        const std::string words = "Cannot show this packed picture: " + c.expected.refusal;
        EXPECT_TRUE(g_str_has_suffix(got.refusal.c_str(), words.c_str())) << got.refusal;
    }
}

TEST(PixbufLoader, ShowsAndRefusesWhatTheViewerDoes) {
    ASSERT_TRUE(cachesReady());
    ScopedWorkDir dir;
    for (const PluginCase& c : pluginCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name + ".qel");
        writeFile(path, c.file);
        GError* error = nullptr;
        expectShown(given(gdk_pixbuf_new_from_file(path.c_str(), &error), error), c);
        GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_mime_type("image/x-qel", nullptr);
        ASSERT_NE(loader, nullptr);
        for (const std::uint8_t& byte : c.file) ASSERT_TRUE(gdk_pixbuf_loader_write(loader, &byte, 1, nullptr));
        GdkPixbuf* fed = gdk_pixbuf_loader_close(loader, &error) ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
        expectShown(given(fed ? GDK_PIXBUF(g_object_ref(fed)) : nullptr, error), c);
        g_object_unref(loader);
    }
}

TEST(PixbufLoader, SavesWhatQelPackAcceptsAndLoadsItBack) {
    ASSERT_TRUE(cachesReady());
    ScopedWorkDir dir;
    for (const SaveCase& c : saveCases()) {
        if (c.width <= 0 || c.height <= 0) continue;  // not a pixbuf GdkPixbuf makes
        SCOPED_TRACE(c.what);
        const Bytes rgba = rgbaPicture(c.width, c.height, c.alphaOfFirst);
        GdkPixbuf* pixbuf = gdk_pixbuf_new_from_data(rgba.data(), GDK_COLORSPACE_RGB, TRUE, 8, c.width, c.height,
                                                     c.width * 4, nullptr, nullptr);
        const std::string path = dir.file(std::string(c.what) + ".qel");
        GError* error = nullptr;
        const bool saved = gdk_pixbuf_save(pixbuf, path.c_str(), "qel", &error, nullptr);
        g_object_unref(pixbuf);
        const Shown back = given(saved ? gdk_pixbuf_new_from_file(path.c_str(), &error) : nullptr, error);
        EXPECT_EQ(back.refusal, *c.refusal ? "Cannot save as a packed picture: " + std::string(c.refusal) : "");
        EXPECT_TRUE(back.rgba == (*c.refusal ? Bytes() : shownAs(rgba)));
    }
}

// The desktop's thumbnailer for image types, headless, enlarges the 24x24
// sprite to 48x48 through the loader.
TEST(PixbufLoader, ThumbnailerDrawsPackedFiles) {
    ASSERT_TRUE(cachesReady());
    ScopedWorkDir dir;
    writeFile(dir.file("star.qel"), hostilePacked("sprite8"));
    const std::string run = QEL_CHILD_ENV " gdk-pixbuf-thumbnailer -s 48 " + dir.file("star.qel") + " " + dir.file("star.png");
    ASSERT_EQ(std::system(run.c_str()), 0) << run;
    GError* error = nullptr;
    const Shown thumbnail = given(gdk_pixbuf_new_from_file(dir.file("star.png").c_str(), &error), error);
    EXPECT_EQ(thumbnail.width, 48);
    ASSERT_EQ(thumbnail.rgba.size(), 48u * 48 * 4) << thumbnail.refusal;
    EXPECT_EQ(thumbnail.rgba[3], 0);  // the corner is the key colour
}

}  // namespace
}  // namespace qel::testing

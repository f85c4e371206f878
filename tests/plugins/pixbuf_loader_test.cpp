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
        // Fed a byte at a time, the loader takes no byte past the one where the core settles a refusal.
        PackedDecoder core;
        std::size_t settled = 0, taken = 0;
        while (settled < c.file.size() && core.feed(&c.file[settled], 1)) ++settled;
        GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_mime_type("image/x-qel", nullptr);
        ASSERT_NE(loader, nullptr);
        while (taken < c.file.size() && gdk_pixbuf_loader_write(loader, &c.file[taken], 1, &error)) ++taken;
        EXPECT_EQ(taken, c.expected.ok() ? c.file.size() : settled);
        GdkPixbuf* fed = taken == c.file.size() && gdk_pixbuf_loader_close(loader, &error) ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
        expectShown(given(fed ? GDK_PIXBUF(g_object_ref(fed)) : nullptr, error), c);
        g_object_unref(loader);
        // Without the name or a type, as geeqie and gthumb load: the content alone finds the loader.
        loader = gdk_pixbuf_loader_new();
        const bool written = c.file.empty() || gdk_pixbuf_loader_write(loader, c.file.data(), c.file.size(), &error);
        fed = gdk_pixbuf_loader_close(loader, written ? &error : nullptr) && written ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
        EXPECT_TRUE(samePicture(given(fed ? GDK_PIXBUF(g_object_ref(fed)) : nullptr, error), c.expected));
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
        gchar* buffer = nullptr;  // through the module's save_to_callback: the same bytes, or the same refusal
        gsize size = 0;
        GError* bufferError = nullptr;
        EXPECT_EQ(gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "qel", &bufferError, nullptr), saved);
        EXPECT_STREQ(bufferError ? bufferError->message : "", saved ? "" : error->message);
        EXPECT_TRUE(!saved || Bytes(buffer, buffer + size) == readFile(path));
        g_clear_error(&bufferError);
        g_free(buffer);
        g_object_unref(pixbuf);
        const Shown back = given(saved ? gdk_pixbuf_new_from_file(path.c_str(), &error) : nullptr, error);
        EXPECT_EQ(back.refusal, *c.refusal ? "Cannot save as a packed picture: " + std::string(c.refusal) : "");
        EXPECT_TRUE(back.rgba == (*c.refusal ? Bytes() : shownAs(rgba)));
    }
}

// The desktop's thumbnailer for image types, headless, enlarges the 24x24
// sprite to 128x128 through the loader, and so does a host that asks for a
// size: nearest-neighbour, as the core scales, never blended.
TEST(PixbufLoader, ThumbnailerDrawsPackedFiles) {
    ASSERT_TRUE(cachesReady());
    ScopedWorkDir dir;
    writeFile(dir.file("star.qel"), hostilePacked("sprite8"));
    const std::string run = QEL_CHILD_ENV " gdk-pixbuf-thumbnailer -s 128 " + dir.file("star.qel") + " " + dir.file("star.png");
    ASSERT_EQ(std::system(run.c_str()), 0) << run;
    GError* error = nullptr;
    const Shown thumbnail = given(gdk_pixbuf_new_from_file(dir.file("star.png").c_str(), &error), error);
    EXPECT_EQ(thumbnail.width, 128);
    ASSERT_EQ(thumbnail.rgba.size(), 128u * 128 * 4) << thumbnail.refusal;
    EXPECT_EQ(thumbnail.rgba[3], 0);  // the corner is the key colour
    const HostPicture sprite = hostPictureFromBytes(hostilePacked("sprite8").data(), hostilePacked("sprite8").size());
    EXPECT_TRUE(thumbnail.rgba == scaledRgba(sprite.sprite, {128, 128}, KeyPixel::keepColour));
    const Shown sized = given(gdk_pixbuf_new_from_file_at_size(dir.file("star.qel").c_str(), 37, 37, &error), error);
    EXPECT_TRUE(sized.rgba == scaledRgba(sprite.sprite, {37, 37}, KeyPixel::keepColour)) << sized.refusal;
}

}  // namespace
}  // namespace qel::testing

// The GdkPixbuf loader as GTK programs reach it: through a loader cache and
// a MIME database that name it (private ones, made here), whole files,
// loaders fed a byte at a time, saving, and the thumbnailer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "tests/malformed/Cases.h"
#include "tests/plugins/PluginCases.h"
#include "tests/support/TestFiles.h"

namespace qel::testing {
namespace {

// The caches, made once per process before the first GdkPixbuf call reads
// them. Each test asserts on it, so that a cache that cannot be made fails
// the tests rather than skipping them.
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

// pixbuf (taken over) shows expected, or is absent with error naming the
// refusal.
void expectShown(GdkPixbuf* pixbuf, GError* error, const HostPicture& expected, bool hasBytes = true) {
    if (!expected.ok()) {
        EXPECT_EQ(pixbuf, nullptr);
        ASSERT_NE(error, nullptr);
        // An empty file is refused by GdkPixbuf before any loader is asked.
        if (hasBytes) {
            EXPECT_NE(std::string(error->message).find(expected.refusal), std::string::npos) << error->message;
        }
    } else if (!pixbuf) {
        ADD_FAILURE() << "not shown: " << (error ? error->message : "");
    } else {
        EXPECT_TRUE(gdk_pixbuf_get_has_alpha(pixbuf));
        const std::size_t rowBytes = static_cast<std::size_t>(expected.width) * 4;
        const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
        bool same = gdk_pixbuf_get_width(pixbuf) == expected.width && gdk_pixbuf_get_height(pixbuf) == expected.height;
        for (int y = 0; y < expected.height && same; ++y) {
            const guint8* row = pixels + static_cast<std::size_t>(y) * gdk_pixbuf_get_rowstride(pixbuf);
            same = std::equal(row, row + rowBytes, expected.rgba.begin() + y * rowBytes);
        }
        EXPECT_TRUE(same);
    }
    if (pixbuf) g_object_unref(pixbuf);
    if (error) g_error_free(error);
}

TEST(PixbufLoader, ShowsAndRefusesWhatTheViewerDoes) {
    ASSERT_TRUE(cachesReady());
    ScopedWorkDir dir;
    for (const PluginCase& c : pluginCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name + ".qel");
        writeFile(path, c.file);
        GError* error = nullptr;
        GdkPixbuf* whole = gdk_pixbuf_new_from_file(path.c_str(), &error);
        expectShown(whole, error, c.expected, !c.file.empty());

        error = nullptr;
        GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_mime_type("image/x-qel", &error);
        ASSERT_NE(loader, nullptr) << error->message;
        bool written = true;
        for (std::size_t i = 0; i < c.file.size() && written; ++i) {
            written = gdk_pixbuf_loader_write(loader, &c.file[i], 1, &error);
        }
        const bool closed = gdk_pixbuf_loader_close(loader, written ? &error : nullptr);
        GdkPixbuf* fed = written && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
        expectShown(fed ? GDK_PIXBUF(g_object_ref(fed)) : nullptr, error, c.expected, !c.file.empty());
        g_object_unref(loader);
    }
}

TEST(PixbufLoader, SavesWhatQelPackAcceptsAndLoadsItBack) {
    ASSERT_TRUE(cachesReady());
    ScopedWorkDir dir;
    for (const SaveCase& c : saveCases()) {
        SCOPED_TRACE(c.what);
        const Bytes rgba = rgbaPicture(c.width, c.height, c.alphaOfFirst);
        GdkPixbuf* pixbuf = gdk_pixbuf_new_from_data(rgba.data(), GDK_COLORSPACE_RGB, TRUE, 8, c.width, c.height,
                                                     c.width * 4, nullptr, nullptr);
        const std::string path = dir.file("saved.qel");
        GError* error = nullptr;
        EXPECT_EQ(gdk_pixbuf_save(pixbuf, path.c_str(), "qel", &error, nullptr), c.accepted);
        g_object_unref(pixbuf);
        if (!c.accepted) {
            ASSERT_NE(error, nullptr);
            EXPECT_NE(std::string(error->message).find("Cannot save as a packed picture: "),
                      std::string::npos) << error->message;
            g_error_free(error);
            continue;
        }
        const Bytes saved = readFile(path);
        const HostPicture back = hostPictureFromBytes(saved.data(), saved.size());
        EXPECT_TRUE(back.rgba == shownAs(rgba));
        expectShown(gdk_pixbuf_new_from_file(path.c_str(), &error), error, back);
    }
}

// The desktop's thumbnailer for image types, headless, enlarges the 24x24
// sprite to 48x48 through the loader.
TEST(PixbufLoader, ThumbnailerDrawsPackedFiles) {
    ASSERT_TRUE(cachesReady());
    ScopedWorkDir dir;
    writeFile(dir.file("star.qel"), hostilePacked("sprite8"));
    const std::string run = QEL_CHILD_ENV " gdk-pixbuf-thumbnailer -s 48 " + dir.file("star.qel") + " " +
                            dir.file("star.png");
    ASSERT_EQ(std::system(run.c_str()), 0) << run;
    GError* error = nullptr;
    GdkPixbuf* thumbnail = gdk_pixbuf_new_from_file(dir.file("star.png").c_str(), &error);
    ASSERT_NE(thumbnail, nullptr) << error->message;
    EXPECT_EQ(gdk_pixbuf_get_width(thumbnail), 48);
    EXPECT_EQ(gdk_pixbuf_get_height(thumbnail), 48);
    // The corner is the key colour: transparent.
    EXPECT_EQ(gdk_pixbuf_read_pixels(thumbnail)[3], 0);
    g_object_unref(thumbnail);
}

}  // namespace
}  // namespace qel::testing

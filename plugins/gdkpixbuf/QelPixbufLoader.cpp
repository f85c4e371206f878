// The GdkPixbuf loader for packed picture files: image viewers,
// thumbnailers and file choosers of GTK desktops load and save `.qel` files
// through it. A thin C interface over the core (packed/HostPicture.h), so
// that these programs show, refuse and save exactly what the viewer and qel
// do. Nothing here may throw into the host: every entry point catches.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include "imaging/Picture.h"
#include "packed/HostPicture.h"
#include "packed/PackedFile.h"

namespace {

struct LoadContext {
    GdkPixbufModuleSizeFunc sizeFunc;
    GdkPixbufModulePreparedFunc preparedFunc;
    GdkPixbufModuleUpdatedFunc updatedFunc;
    gpointer userData;
    qel::PackedDecoder decoder{qel::PackedDecoder::ZlibState::perInput};
};

void setError(GError** error, GdkPixbufError code, const std::string& message) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message.c_str());
}

// The pixbuf of the whole picture, converted straight into its buffer.
GdkPixbuf* pixbufOf(const qel::HostPicture& picture) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, picture.width(), picture.height());
    if (!pixbuf) return nullptr;
    qel::PixelTarget target;
    target.pixels = gdk_pixbuf_get_pixels(pixbuf);
    target.stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
    target.size = {picture.width(), picture.height()};
    if (!qel::convertPicture(picture.sprite, target)) {
        g_object_unref(pixbuf);
        return nullptr;
    }
    return pixbuf;
}

gpointer beginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError** error) {
    try {
        return new LoadContext{sizeFunc, preparedFunc, updatedFunc, userData};
    } catch (const std::bad_alloc&) {
        setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load a packed picture");
        return nullptr;
    }
}

// Each piece is inflated as it comes; once the outcome is settled the rest
// is not looked at.
gboolean loadIncrement(gpointer data, const guchar* buffer, guint size, GError**) {
    auto* context = static_cast<LoadContext*>(data);
    context->decoder.feed(buffer, size);
    return TRUE;
}

gboolean stopLoad(gpointer data, GError** error) {
    auto* context = static_cast<LoadContext*>(data);
    gboolean ok = FALSE;
    try {
        qel::HostPicture picture = qel::hostPictureFromStream(context->decoder);
        if (!picture.ok()) {
            setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Cannot show this packed picture: " + picture.refusal);
        } else {
            int width = picture.width(), height = picture.height();
            if (context->sizeFunc) context->sizeFunc(&width, &height, context->userData);
            // A size of 0 asks only for the picture's size.
            GdkPixbuf* pixbuf = width == 0 || height == 0 ? nullptr : pixbufOf(picture);
            if (width == 0 || height == 0) {
                ok = TRUE;
            } else if (!pixbuf) {
                setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load a packed picture");
            } else {
                if (context->preparedFunc) context->preparedFunc(pixbuf, nullptr, context->userData);
                if (context->updatedFunc) {
                    context->updatedFunc(pixbuf, 0, 0, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf),
                                         context->userData);
                }
                g_object_unref(pixbuf);
                ok = TRUE;
            }
        }
    } catch (const std::bad_alloc&) {
        setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load a packed picture");
    }
    delete context;
    return ok;
}

// The packed file of pixbuf, or FALSE with the reason qel pack gives for a
// PNG of the same pixels.
gboolean encode(GdkPixbuf* pixbuf, std::vector<std::uint8_t>& packed, GError** error) {
    if (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB || gdk_pixbuf_get_bits_per_sample(pixbuf) != 8) {
        setError(error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "A packed picture holds 8-bit RGB pixels only");
        return FALSE;
    }
    try {
        qel::PackedFromRgba result =
            qel::packRgba(gdk_pixbuf_read_pixels(pixbuf), gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf),
                          static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf)), gdk_pixbuf_get_n_channels(pixbuf));
        if (!result.refusal.empty()) {
            setError(error, GDK_PIXBUF_ERROR_BAD_OPTION, "Cannot save as a packed picture: " + result.refusal);
            return FALSE;
        }
        packed = std::move(result.packed);
        return TRUE;
    } catch (const std::bad_alloc&) {
        setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to save a packed picture");
        return FALSE;
    }
}

gboolean save(FILE* file, GdkPixbuf* pixbuf, gchar**, gchar**, GError** error) {
    std::vector<std::uint8_t> packed;
    if (!encode(pixbuf, packed, error)) return FALSE;
    if (std::fwrite(packed.data(), 1, packed.size(), file) != packed.size()) {
        setError(error, GDK_PIXBUF_ERROR_FAILED, "Cannot write the packed picture");
        return FALSE;
    }
    return TRUE;
}

gboolean saveToCallback(GdkPixbufSaveFunc saveFunc, gpointer userData, GdkPixbuf* pixbuf, gchar**, gchar**,
                        GError** error) {
    std::vector<std::uint8_t> packed;
    if (!encode(pixbuf, packed, error)) return FALSE;
    return saveFunc(reinterpret_cast<const gchar*>(packed.data()), packed.size(), error, userData);
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
    module->begin_load = beginLoad;
    module->load_increment = loadIncrement;
    module->stop_load = stopLoad;
    module->save = save;
    module->save_to_callback = saveToCallback;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
    // No magic: a packed file is a zlib stream, so its header at the usual
    // compression levels is the best guess for hosts that sniff content.
    // Desktops go by the name (*.qel is image/x-qel).
    static GdkPixbufModulePattern signature[] = {
        {const_cast<char*>("x\x01"), const_cast<char*>("  "), 50},
        {const_cast<char*>("x\x5e"), const_cast<char*>("  "), 50},
        {const_cast<char*>("x\x9c"), const_cast<char*>("  "), 50},
        {const_cast<char*>("x\xda"), const_cast<char*>("  "), 50},
        {nullptr, nullptr, 0},
    };
    static const gchar* mimeTypes[] = {"image/x-qel", nullptr};
    static const gchar* extensions[] = {"qel", nullptr};
    info->name = const_cast<gchar*>("qel");
    info->signature = signature;
    info->description = const_cast<gchar*>("Packed picture");
    info->mime_types = const_cast<gchar**>(mimeTypes);
    info->extensions = const_cast<gchar**>(extensions);
    info->flags = GDK_PIXBUF_FORMAT_WRITABLE | GDK_PIXBUF_FORMAT_THREADSAFE;
    info->license = const_cast<gchar*>("MIT");
}

}  // extern "C"

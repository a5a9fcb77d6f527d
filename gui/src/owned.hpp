#pragma once
// Holding GObject references and the data GLib hands back to callbacks, as RAII owners.

#include <glib-object.h>

#include <memory>
#include <utility>

namespace brevane {

// A strong GObject reference that goes with its holder.
template <typename T>
class ObjectRef {
public:
    // Adds a reference of its own.
    explicit ObjectRef(T* object) : object_(object) {
        if (object_ != nullptr) g_object_ref(object_);
    }
    // Takes over the reference that a constructor or a "_new" function gave the caller.
    static ObjectRef adopt(T* object) {
        ObjectRef ref;
        ref.object_ = object;
        return ref;
    }
    ObjectRef(const ObjectRef& other) : ObjectRef(other.object_) {}
    ObjectRef(ObjectRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ObjectRef& operator=(ObjectRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~ObjectRef() {
        if (object_ != nullptr) g_object_unref(object_);
    }
    T* get() const { return object_; }

private:
    ObjectRef() = default;
    T* object_ = nullptr;
};

// Data that GLib holds for a callback and hands back exactly once: given away as a pointer, taken
// back as an owner where the callback runs.
template <typename Data>
gpointer give_to_callback(std::unique_ptr<Data> data) {
    return data.release();
}
template <typename Data>
std::unique_ptr<Data> take_from_callback(gpointer data) {
    return std::unique_ptr<Data>(static_cast<Data*>(data));
}

// Connects a handler whose data belongs to the connection: it lives until the handler is
// disconnected or the instance goes. The handler reads it as a Data* through its gpointer.
template <typename Data>
gulong connect_owned(gpointer instance, const char* signal, GCallback handler, Data data,
                     GConnectFlags flags = GConnectFlags(0)) {
    return g_signal_connect_data(instance, signal, handler,
                                 give_to_callback(std::make_unique<Data>(std::move(data))),
                                 [](gpointer owned, GClosure*) { take_from_callback<Data>(owned); }, flags);
}

// Attaches data to an object under a key; it goes with the object, or when the key is set again.
template <typename Data>
void set_owned_data(gpointer object, const char* key, Data data) {
    g_object_set_data_full(G_OBJECT(object), key, give_to_callback(std::make_unique<Data>(std::move(data))),
                           [](gpointer owned) { take_from_callback<Data>(owned); });
}

// The data set_owned_data attached, or null.
template <typename Data>
Data* owned_data(gpointer object, const char* key) {
    return static_cast<Data*>(g_object_get_data(G_OBJECT(object), key));
}

}  // namespace brevane

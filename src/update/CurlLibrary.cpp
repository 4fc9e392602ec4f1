#include "update/CurlLibrary.h"

#include "system/SharedLibrary.h"

namespace quelmar::Curl {

const Library& library() {
    static const Library loaded = [] {
        const SharedLibrary curl("libcurl.so.4");
        Library l{};
        l.global_init = curl.function<decltype(l.global_init)>("curl_global_init");
        l.easy_init = curl.function<decltype(l.easy_init)>("curl_easy_init");
        l.easy_cleanup = curl.function<decltype(l.easy_cleanup)>("curl_easy_cleanup");
        l.easy_setopt = curl.function<decltype(l.easy_setopt)>("curl_easy_setopt");
        l.easy_getinfo = curl.function<decltype(l.easy_getinfo)>("curl_easy_getinfo");
        l.easy_strerror = curl.function<decltype(l.easy_strerror)>("curl_easy_strerror");
        l.multi_init = curl.function<decltype(l.multi_init)>("curl_multi_init");
        l.multi_cleanup = curl.function<decltype(l.multi_cleanup)>("curl_multi_cleanup");
        l.multi_add_handle = curl.function<decltype(l.multi_add_handle)>("curl_multi_add_handle");
        l.multi_remove_handle = curl.function<decltype(l.multi_remove_handle)>("curl_multi_remove_handle");
        l.multi_perform = curl.function<decltype(l.multi_perform)>("curl_multi_perform");
        l.multi_poll = curl.function<decltype(l.multi_poll)>("curl_multi_poll");
        l.multi_wakeup = curl.function<decltype(l.multi_wakeup)>("curl_multi_wakeup");
        l.multi_info_read = curl.function<decltype(l.multi_info_read)>("curl_multi_info_read");
        l.url = curl.function<decltype(l.url)>("curl_url");
        l.url_set = curl.function<decltype(l.url_set)>("curl_url_set");
        l.url_get = curl.function<decltype(l.url_get)>("curl_url_get");
        l.url_cleanup = curl.function<decltype(l.url_cleanup)>("curl_url_cleanup");
        l.free = curl.function<decltype(l.free)>("curl_free");
        return l;
    }();
    return loaded;
}

} // namespace quelmar::Curl

// The named facts against the SDK's own macros, at compile time: a value typed
// wrong here breaks the Windows build instead of a run.
#include "platform/windows_facts.h"

#if defined(_WIN32)

#include <objbase.h> // the COM apartment and class-context values

namespace tallowick::platform {

static_assert(error_success == ERROR_SUCCESS);
static_assert(error_access_denied == ERROR_ACCESS_DENIED);
static_assert(error_invalid_handle == ERROR_INVALID_HANDLE);
static_assert(error_bad_length == ERROR_BAD_LENGTH);
static_assert(error_not_supported == ERROR_NOT_SUPPORTED);
static_assert(error_invalid_parameter == ERROR_INVALID_PARAMETER);
static_assert(error_insufficient_buffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(error_busy == ERROR_BUSY);
static_assert(error_already_exists == ERROR_ALREADY_EXISTS);
static_assert(error_more_data == ERROR_MORE_DATA);
static_assert(error_not_found == ERROR_NOT_FOUND);
static_assert(error_not_all_assigned == ERROR_NOT_ALL_ASSIGNED);
static_assert(error_connection_active == ERROR_CONNECTION_ACTIVE);
static_assert(error_no_system_resources == ERROR_NO_SYSTEM_RESOURCES);
static_assert(error_timeout == ERROR_TIMEOUT);
static_assert(error_active_connections == ERROR_ACTIVE_CONNECTIONS);
static_assert(error_wmi_instance_not_found == ERROR_WMI_INSTANCE_NOT_FOUND);
static_assert(error_ctx_close_pending == ERROR_CTX_CLOSE_PENDING);
static_assert(s_ok == S_OK);
static_assert(s_false == S_FALSE);
static_assert(e_pointer == E_POINTER);
static_assert(e_invalidarg == E_INVALIDARG);
static_assert(coinit_multithreaded == COINIT_MULTITHREADED);
static_assert(coinit_apartmentthreaded == COINIT_APARTMENTTHREADED);
static_assert(clsctx_server == CLSCTX_SERVER);
static_assert(ver_minorversion == VER_MINORVERSION);
static_assert(ver_majorversion == VER_MAJORVERSION);
static_assert(ver_buildnumber == VER_BUILDNUMBER);
static_assert(ver_platformid == VER_PLATFORMID);
static_assert(ver_servicepackminor == VER_SERVICEPACKMINOR);
static_assert(ver_servicepackmajor == VER_SERVICEPACKMAJOR);
static_assert(ver_product_type == VER_PRODUCT_TYPE);
static_assert(ver_equal == VER_EQUAL);
static_assert(ver_greater == VER_GREATER);
static_assert(ver_greater_equal == VER_GREATER_EQUAL);
static_assert(ver_less == VER_LESS);
static_assert(ver_less_equal == VER_LESS_EQUAL);

} // namespace tallowick::platform

#endif

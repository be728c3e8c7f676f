/* The module's exported entry points, with C linkage and the platform's
 * default calling convention (__cdecl on the Windows target). */
#ifndef ZPOR8DTC23_ZPOR8DTC23_H
#define ZPOR8DTC23_ZPOR8DTC23_H

#include <stdint.h>

#include "zpor8dtc23/xa.h"

#if defined(ZP_BUILDING_MODULE) && !defined(_WIN32)
#define ZP_EXPORT __attribute__((visibility("default")))
#else
#define ZP_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Microsoft DTC: fills the module switch with the worker-routed entries and
 * stores its address. Returns 0 (S_OK). */
ZP_EXPORT int32_t GetXaSwitch(uint32_t switch_flags, struct xa_switch_t** switch_out);
/* IBM WebSphere MQ: fills the module switch with the direct traced entries
 * and returns its address. */
ZP_EXPORT struct xa_switch_t* MQStart(void);
/* The client's OCI environment / service context for dbname, obtained on the
 * worker thread of rmid; null when rmid has no worker. */
ZP_EXPORT void* hkXaoEnv(int rmid, char* dbname);
ZP_EXPORT void* hkXaoSvcCtx(int rmid, char* dbname);
/* The same on the caller's thread; null before the client library is loaded. */
ZP_EXPORT void* hkMQXaoEnv(char* dbname);
ZP_EXPORT void* hkMQXaoSvcCtx(char* dbname);

#ifdef __cplusplus
}
#endif

#endif /* ZPOR8DTC23_ZPOR8DTC23_H */

/* A switch file: the small shared object through which an XA transaction
 * manager on Linux that loads a resource manager's switch by a function of
 * its own (LIXA calls `struct xa_switch_t *lixa_get_xa_switch(void)`) reaches
 * zpor8dtc23. It hands out the switch of the MQStart entry point, which runs
 * every call on the transaction manager's own thread, as such a manager
 * expects; built with -DZP_SWITCH_FILE_DTC it hands out GetXaSwitch's switch
 * instead (one worker thread per rmid).
 *
 * Build, linked with the module so that loading the shim loads the module:
 *   cc -shared -fPIC -o libzp_lixa_switch.so lixa_switch.c \
 *      -I/usr/include -lzpor8dtc23
 */
#include <stddef.h>

#include "zpor8dtc23/zpor8dtc23.h"

struct xa_switch_t* lixa_get_xa_switch(void) {
#if defined(ZP_SWITCH_FILE_DTC)
  struct xa_switch_t* sw = NULL;
  return GetXaSwitch(0, &sw) == 0 ? sw : NULL;
#else
  return MQStart();
#endif
}

/* Links the module and takes its MQ switch: prints the switch's name. */
#include <stdio.h>

#include <zpor8dtc23/zpor8dtc23.h>

int main(void) {
  struct xa_switch_t* sw = MQStart();
  if (sw == NULL) return 1;
  printf("switch \"%.32s\"\n", sw->name);
  return 0;
}

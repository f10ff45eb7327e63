#include "app/system_reset.h"

#include "flash/hw_access.h"
#include "flash/regs/rst_cnt.h"
#include "shell/console.h"

VOID SystemReset() {
  ConsolePrint("System reset...\r\n");
  // RST_CPU must change from 0 to 1 to start the reset.
  PortWrite8(RST_CNT, 0x00);
  PortWrite8(RST_CNT, RST_CNT_SYS_RST | RST_CNT_RST_CPU);
}

#pragma once

// Sets an arbitrary baud rate (14400, 56000, ...) that has no Bxxx constant, through
// the kernel's termios2 interface. Kept apart because <asm/termbits.h> clashes with
// <termios.h>.
bool setCustomBaud(int fd, int baudRate);

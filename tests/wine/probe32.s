# The smallest i386 Linux program: it exits with code 32 through the 32-bit
# system call gate. A kernel that cannot run 32-bit code refuses to start it
# (execve fails with ENOEXEC), and then no 32-bit Wine can run either.
        .text
        .globl _start
_start:
        movl $1, %eax           # exit
        movl $32, %ebx          # the code the probe reports
        int $0x80

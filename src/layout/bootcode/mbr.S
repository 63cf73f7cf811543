# Master boot record code: the first 440 bytes of sector 0 of the card.
#
# The BIOS loads sector 0 to 0000:7C00 and jumps to it with the boot drive
# in DL. This code moves the whole sector to 0000:0600 to make room, checks
# the partition table, loads the first sector of the active partition to
# 0000:7C00 and jumps to it with DL = boot drive and DS:SI pointing at the
# active partition entry. Reads use the BIOS extended read (INT 13h AH=42h)
# when the drive supports it and cylinder/head/sector addressing otherwise.
# A FAT32 partition (types 0Bh and 0Ch) whose first sector cannot be read
# or lacks its 55 AA signature is tried once more at its backup boot sector,
# six sectors further on.
#
# Failures print one of three texts and halt:
#   "Invalid partition table"         status byte other than 00h or 80h, or
#                                     more than one active entry
#   "Error loading operating system"  the disk read failed
#   "Missing operating system"        no active entry, or the loaded sector
#                                     has no 55 AA signature
# Bytes 437-439 hold the offsets of these texts within the sector less 100h;
# the print routine finds the texts through them.
#
# Assembled with: as --32; linked at 0x600 (where it runs after the move).

        .code16
        .text
        .globl  _start

        .set    LOAD_ADDR, 0x7c00         # where the BIOS and we load a boot sector
        .set    RUN_ADDR, 0x0600          # where this code moves itself
        .set    PART_TABLE, RUN_ADDR + 446
        .set    SIGNATURE, LOAD_ADDR + 510
        .set    READ_TRIES, 4

        # Indexes into the message offset bytes at 437.
        .set    MSG_INVALID, 0
        .set    MSG_ERROR, 1
        .set    MSG_MISSING, 2

_start:
        xor     %ax, %ax
        mov     %ax, %ss                  # no interrupt before the next move
        mov     $LOAD_ADDR, %sp
        mov     %ax, %ds
        mov     %ax, %es
        cld
        mov     $LOAD_ADDR, %si
        mov     $RUN_ADDR, %di
        mov     $256, %cx
        rep movsw
        ljmp    $0, $relocated

relocated:
        mov     %dl, drive

        # Find the one active entry; every other status byte must be 0.
        mov     $PART_TABLE, %si
        xor     %bp, %bp
        mov     $4, %cx
scan:
        mov     $MSG_INVALID, %bl
        mov     (%si), %al
        shl     %al                       # 80h gives 0 and carry, 00h just 0
        jnz     fail
        jnc     next_entry
        test    %bp, %bp
        jnz     fail
        mov     %si, %bp
next_entry:
        add     $16, %si
        loop    scan
        mov     $MSG_MISSING, %bl
        test    %bp, %bp
        jz      fail

        # Use extended reads when the BIOS offers them for this drive.
        mov     $0x41, %ah
        mov     $0x55aa, %bx
        mov     drive, %dl
        int     $0x13
        jc      load_primary
        cmp     $0xaa55, %bx
        jne     load_primary
        test    $1, %cl
        jz      load_primary
        incb    use_ext

load_primary:
        mov     8(%bp), %eax
        call    load
        jnc     boot
        # FAT32 (types 0Bh, 0Ch) keeps a backup boot sector 6 sectors on.
        mov     4(%bp), %cl
        sub     $0x0b, %cl
        cmp     $1, %cl
        ja      fail
        add     $6, %eax
        call    load
        jc      fail

boot:
        mov     %bp, %si
        mov     drive, %dl
        ljmp    $0, $LOAD_ADDR

# Print the message whose index is in BL, then stop.
fail:
        xor     %bh, %bh
        mov     msg_offsets(%bx), %al
        mov     $(RUN_ADDR + 0x100) >> 8, %ah
        mov     %ax, %si
print:
        lodsb
        test    %al, %al
        jz      halt
        mov     $0x0e, %ah
        mov     $0x07, %bl                # BH, the page, is 0
        int     $0x10
        jmp     print
halt:
        hlt
        jmp     halt

# Load sector EAX to LOAD_ADDR and check its signature.
# Returns with CF clear on success; on failure CF is set and BL holds the
# message index. Keeps EAX and BP.
load:
        mov     $READ_TRIES, %di
read_try:
        pushal
        cmpb    $0, use_ext
        je      read_chs
        mov     %eax, dap_lba
        mov     $dap, %si
        mov     $0x42, %ah
        mov     drive, %dl
        int     $0x13
        jmp     read_done
read_chs:
        # Translate the sector number with the drive's own geometry.
        push    %eax
        push    %es                       # AH=08h may change ES:DI
        mov     $0x08, %ah
        mov     drive, %dl
        int     $0x13
        pop     %es
        pop     %eax
        jc      read_done
        and     $0x3f, %ecx               # sectors per track
        jz      chs_out_of_range
        movzbl  %dh, %ebx
        inc     %bx                       # heads
        xor     %edx, %edx
        div     %ecx                      # EAX = track, EDX = sector - 1
        inc     %dx
        mov     %dx, %si
        xor     %edx, %edx
        div     %ebx                      # EAX = cylinder, EDX = head
        cmp     $1023, %eax
        ja      chs_out_of_range
        mov     %dl, %dh
        mov     %al, %ch                  # cylinder bits 0-7
        shl     $6, %ah                   # cylinder bits 8-9 to bits 6-7
        mov     %si, %bx
        or      %ah, %bl
        mov     %bl, %cl                  # sector in bits 0-5
        mov     drive, %dl
        mov     $LOAD_ADDR, %bx
        mov     $0x0201, %ax
        int     $0x13
read_done:
        jnc     read_end
        # Reset the drive after a failed read; the reset's own status
        # does not matter.
        xor     %ah, %ah
        mov     drive, %dl
        int     $0x13
chs_out_of_range:
        stc
read_end:
        popal
        jnc     read_ok
        dec     %di                       # try READ_TRIES times in all
        jnz     read_try
        mov     $MSG_ERROR, %bl           # CF is still set
        ret
read_ok:
        mov     $MSG_MISSING, %bl
        cmpw    $0xaa55, SIGNATURE        # equal leaves CF clear
        je      load_end
        stc
load_end:
        ret

        .org    0x12c
msg_invalid:
        .asciz  "Invalid partition table"
msg_error:
        .asciz  "Error loading operating system"
msg_missing:
        .asciz  "Missing operating system"

# Working variables, zero in the sector and set at run time.
drive:
        .byte   0
use_ext:
        .byte   0
        .balign 2
dap:                                      # extended read request: 1 sector
        .byte   0x10, 0
        .word   1
        .word   LOAD_ADDR, 0
dap_lba:
        .long   0, 0

        .org    437
msg_offsets:
        .byte   msg_invalid - _start - 0x100
        .byte   msg_error - _start - 0x100
        .byte   msg_missing - _start - 0x100

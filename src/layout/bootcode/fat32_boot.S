# FAT32 boot sector code: bytes 90-509 of the first sector of the FAT32
# partition, reached through the jump at byte 0 (EB 58 90).
#
# The master boot record loads this sector to 0000:7C00 and jumps to it with
# the boot drive in DL. The code checks that the sector describes a FAT32
# volume (16-bit sectors-per-FAT 0 and file-system version 0), reads sector
# 12 of the partition (hidden sectors + 12) to 0000:8000 and jumps there with
# DL = boot drive and BP = 7C00h. Reads use the BIOS extended read when the
# drive supports it and cylinder/head/sector addressing otherwise. The drive
# number of the boot sector's own field is not used: DL from the BIOS or
# the master boot record is the drive the sector came from.
#
# Nothing is started from a sector 12 that holds one value throughout (a
# never-written sector of zeros or FFh bytes): jumping into it would run
# whatever lies in memory. That case is reported like a volume without a
# loader.
#
# Failures show, each text preceded by CR LF:
#   "Remove disks or other media."  not FAT32, or no loader in sector 12
#   "Disk error"                    the read failed
# then "Press any key to restart"; a key press restarts the boot (INT 19h).
# Bytes 505-507 of the sector hold the offsets of these texts within the
# sector less 100h; the print routine finds the texts through them. The
# 11-character loader name "NTLDR      " is kept as well.
#
# Assembled with: as --32; linked at 0x7c5a (sector offset 90 at 7C00h).

        .code16
        .text
        .globl  _start

        .set    SECTOR, 0x7c00            # this sector in memory
        .set    AREA_OFFSET, 90           # where this code starts in the sector
        .set    FAT_SIZE_16, SECTOR + 22
        .set    HIDDEN_SECTORS, SECTOR + 28
        .set    FS_VERSION, SECTOR + 42
        .set    LOADER_ADDR, 0x8000
        .set    LOADER_SECTOR, 12
        .set    READ_TRIES, 4

        # Indexes into the message offset bytes at sector offset 505.
        .set    MSG_NO_SYSTEM, 0
        .set    MSG_DISK_ERROR, 1
        .set    MSG_RESTART, 2

_start:
        xor     %ax, %ax
        mov     %ax, %ss                  # no interrupt before the next move
        mov     $SECTOR, %sp
        mov     %ax, %ds
        mov     %ax, %es
        cld
        ljmp    $0, $start_cs0            # some BIOSes enter at 07C0:0000
start_cs0:
        mov     %dl, drive

        mov     $MSG_NO_SYSTEM, %bl
        cmpw    $0, FAT_SIZE_16
        jne     fail
        cmpw    $0, FS_VERSION
        jne     fail

        # Use extended reads when the BIOS offers them for this drive.
        mov     $0x41, %ah
        mov     $0x55aa, %bx
        int     $0x13
        jc      read_loader
        cmp     $0xaa55, %bx
        jne     read_loader
        test    $1, %cl
        jz      read_loader
        incb    use_ext

read_loader:
        mov     $MSG_DISK_ERROR, %bl
        mov     HIDDEN_SECTORS, %eax
        add     $LOADER_SECTOR, %eax
        jc      fail
        call    read
        jc      fail

        # A sector of one repeated value holds no code.
        mov     $MSG_NO_SYSTEM, %bl
        mov     $LOADER_ADDR, %di
        mov     (%di), %ax
        mov     $256, %cx
        repe scasw
        je      fail

        mov     drive, %dl
        mov     $SECTOR, %bp
        ljmp    $0, $LOADER_ADDR

# Show the message whose index is in BL, then the restart prompt; wait for a
# key and restart the boot.
fail:
        call    print
        mov     $MSG_RESTART, %bl
        call    print
        xor     %ah, %ah
        int     $0x16
        int     $0x19

print:
        xor     %bh, %bh
        mov     msg_offsets(%bx), %al
        mov     $(SECTOR + 0x100) >> 8, %ah
        mov     %ax, %si
print_next:
        lodsb
        test    %al, %al
        jz      print_end
        mov     $0x0e, %ah
        mov     $0x07, %bl                # BH, the page, is 0
        int     $0x10
        jmp     print_next
print_end:
        ret

# Read sector EAX to LOADER_ADDR; CF set on failure.
read:
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
        mov     $LOADER_ADDR, %bx
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
read_ok:
        ret

# Working variables, zero in the sector and set at run time.
drive:
        .byte   0
use_ext:
        .byte   0
dap:                                      # extended read request: 1 sector
        .byte   0x10, 0
        .word   1
        .word   LOADER_ADDR, 0
dap_lba:
        .long   0, 0

        .org    417 - AREA_OFFSET
        .ascii  "NTLDR      "
msg_no_system:
        .asciz  "\r\nRemove disks or other media."
msg_disk_error:
        .asciz  "\r\nDisk error"
msg_restart:
        .asciz  "\r\nPress any key to restart"

        .org    505 - AREA_OFFSET
msg_offsets:
        .byte   msg_no_system - _start + AREA_OFFSET - 0x100
        .byte   msg_disk_error - _start + AREA_OFFSET - 0x100
        .byte   msg_restart - _start + AREA_OFFSET - 0x100
        .org    510 - AREA_OFFSET

# Host side of the emulated device, sourced by scripts/device-vm.sh and
# scripts/powercut.sh. POSIX sh. Needs what `scripts/install-deps.sh --vm`
# installs; the guest kernels and BusyBox are Debian packages unpacked into
# a cache, never installed.
#
# A guest has three disks:
#   system  a virtio disk with the serial "system", ext4: the device's "/"
#           with /data, /etc/version.cfg, /opt and a static BusyBox as
#           /bin; /usr and the loaders lead to the host's tree, shared read
#           only over 9p, for korvello's libraries
#   usb     a USB stick (usb-storage on an xHCI controller): sda, its FAT32
#           partition sda1 mounted at /mnt/usb/sda1
#   sdcard  an SD card (sd-card on an SDHCI controller): the guest's only
#           MMC disk, mmcblk0, whose first partition is mounted at
#           /mnt/sdcard/mmcblk1p1, the device's name for its card slot
# The host reads every outcome from the images after the guest has ended.

VM_HERE=$(cd "$(dirname "$0")/.." && pwd)
VM_CACHE=${VM_CACHE:-$VM_HERE/out/device-vm}
export MTOOLS_SKIP_CHECK=1

vm_die() {
    echo "device-vm: $*" >&2
    exit 1
}

# Debian names of the architecture and of what the guest needs.
vm_debian_arch() {
    case $1 in
        x86_64) echo amd64 ;;
        aarch64) echo arm64 ;;
        *) vm_die "unknown architecture $1" ;;
    esac
}

# Drivers the guest loads in its initramfs, before its dependencies are
# added. crc32c is asked for by name at mount time, not as a dependency.
# The stick's and the card's controllers are PCI devices on both machines.
vm_modules() {
    vm_common="virtio_blk 9pnet_virtio 9p crc32c_generic ext4 vfat nls_cp437 nls_ascii \
xhci_pci usb_storage sd_mod sdhci_pci mmc_block"
    case $1 in
        # bochs drives QEMU's VGA, whose frame buffer linuxfb draws on.
        x86_64) echo "virtio_pci $vm_common bochs" ;;
        aarch64) echo "virtio_mmio $vm_common" ;;
    esac
}

# Unpacks the newest Debian kernel and busybox-static for the architecture
# into the cache, once.
vm_fetch() {
    vm_arch=$1
    vm_dir=$VM_CACHE/$vm_arch
    [ -f "$vm_dir/ready" ] && return 0
    vm_debian=$(vm_debian_arch "$vm_arch")
    rm -rf "$vm_dir"
    mkdir -p "$vm_dir/debs"
    vm_kernel=$(apt-cache depends "linux-image-$vm_debian:$vm_debian" 2>/dev/null \
        | awk '/Depends: linux-image-/ { print $2; exit }')
    vm_kernel=${vm_kernel%%:*}
    [ -n "$vm_kernel" ] || vm_die "no kernel package for $vm_debian; run scripts/install-deps.sh --vm"
    echo "device-vm: fetching $vm_kernel and busybox-static for $vm_debian"
    (cd "$vm_dir/debs" && apt-get download "$vm_kernel:$vm_debian" "busybox-static:$vm_debian" >/dev/null 2>&1) \
        || vm_die "apt-get download $vm_kernel:$vm_debian busybox-static:$vm_debian failed"
    for vm_deb in "$vm_dir"/debs/*.deb; do
        dpkg -x "$vm_deb" "$vm_dir/root"
    done
    rm -rf "$vm_dir/debs"
    ln -s root/boot/"$(cd "$vm_dir/root/boot" && ls vmlinuz-*)" "$vm_dir/vmlinuz"
    ln -s root/bin/busybox "$vm_dir/busybox"
    touch "$vm_dir/ready"
}

# The modules to load, each after the ones it depends on. Debian's package
# ships no modules.dep, so the dependencies are read from each module's
# .modinfo strings: first every module reached, then awk orders them.
vm_module_order() {
    vm_tree=$(echo "$VM_CACHE/$1"/root/lib/modules/*)
    vm_wanted=$(vm_modules "$1")
    vm_todo=$vm_wanted
    vm_table=
    # The list may be left as blanks alone, by a last module without
    # dependencies: the words, not the string, say when it is done.
    while set -- $vm_todo && [ $# -gt 0 ]; do
        vm_name=$1
        shift
        vm_todo=$*
        case " $vm_table " in *" =$vm_name "*) continue ;; esac
        vm_pattern=$(echo "$vm_name" | sed 's/[-_]/[-_]/g')
        vm_file=$(find "$vm_tree/kernel" -name "$vm_pattern.ko" | head -n 1)
        vm_depends=
        [ -z "$vm_file" ] || vm_depends=$(tr '\0' '\n' < "$vm_file" | sed -n 's/^depends=//p' | tr ',' ' ')
        # "=name file dependencies;" per module; no file: built into the kernel.
        vm_table="$vm_table =$vm_name ${vm_file#"$vm_tree"/kernel/} $vm_depends ;"
        vm_todo="$vm_todo $vm_depends"
    done
    echo "$vm_table" | tr ';' '\n' | awk -v wanted="$vm_wanted" '
        NF { name = substr($1, 2); file[name] = $2; deps[name] = ""
             for (i = 3; i <= NF; i++) deps[name] = deps[name] " " $i }
        function visit(name,   list, n, i) {
            if (name in done) return
            done[name] = 1
            n = split(deps[name], list, " ")
            for (i = 1; i <= n; i++) visit(list[i])
            if (file[name] ~ /\.ko$/) print file[name]
        }
        END { n = split(wanted, list, " "); for (i = 1; i <= n; i++) visit(list[i]) }'
}

# The initramfs: BusyBox, the init of device-vm/ and the modules.
vm_initrd() {
    vm_arch=$1
    vm_out=$VM_CACHE/$vm_arch/initrd.gz
    if [ -f "$vm_out" ] \
        && [ -z "$(find "$VM_HERE/device-vm/init" "$VM_HERE/device-vm/lib.sh" -newer "$vm_out")" ]; then
        return 0
    fi
    vm_work=$(mktemp -d)
    mkdir -p "$vm_work/bin" "$vm_work/modules" "$vm_work/proc" "$vm_work/sys" "$vm_work/dev" "$vm_work/newroot"
    cp "$VM_CACHE/$vm_arch/busybox" "$vm_work/bin/busybox"
    for vm_applet in sh mount umount insmod chroot switch_root poweroff cat echo; do
        ln -s busybox "$vm_work/bin/$vm_applet"
    done
    cp "$VM_HERE/device-vm/init" "$vm_work/init"
    vm_tree=$(echo "$VM_CACHE/$vm_arch"/root/lib/modules/*)
    vm_module_order "$vm_arch" | while read -r vm_module; do
        cp "$vm_tree/kernel/$vm_module" "$vm_work/modules/"
        echo "${vm_module##*/}" >> "$vm_work/modules/order"
    done
    # The order is made in a pipeline, whose failure would not stop here.
    [ -s "$vm_work/modules/order" ] || vm_die "no modules found for the $vm_arch guest"
    (cd "$vm_work" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) > "$vm_out.tmp"
    mv "$vm_out.tmp" "$vm_out"
    rm -rf "$vm_work"
}

# vm_system_image IMAGE ARCH KORVELLO DATA VERSION [OPT]
# The device's "/": BusyBox as /bin and /sbin, korvello in /bin, the data
# folder copied from DATA, the version file's first line VERSION, and /opt
# copied from OPT (empty without).
vm_system_image() {
    vm_image=$1 vm_arch=$2 vm_korvello=$3 vm_data=$4 vm_version=$5 vm_opt=${6:-}
    vm_work=$(mktemp -d)
    mkdir -p "$vm_work/bin" "$vm_work/etc/init.d" "$vm_work/opt" "$vm_work/root" "$vm_work/proc" \
        "$vm_work/sys" "$vm_work/dev" "$vm_work/tmp" "$vm_work/host" "$vm_work/mnt/usb/sda1" \
        "$vm_work/mnt/sdcard/mmcblk1p1"
    # The applets' links are made by the guest's own BusyBox at boot.
    cp "$VM_CACHE/$vm_arch/busybox" "$vm_work/bin/busybox"
    ln -s busybox "$vm_work/bin/sh"
    ln -s bin "$vm_work/sbin"
    cp "$vm_korvello" "$vm_work/bin/korvello"
    # The host's tree provides the C library, Qt and the fonts.
    for vm_link in usr lib lib64; do
        ln -s "/host/$vm_link" "$vm_work/$vm_link"
    done
    mkdir -p "$vm_work/var/cache"
    ln -s /host/var/cache/fontconfig "$vm_work/var/cache/fontconfig"
    ln -s /host/etc/fonts "$vm_work/etc/fonts"
    ln -s /host/etc/ld.so.cache "$vm_work/etc/ld.so.cache"
    cp "$VM_HERE/device-vm/inittab" "$vm_work/etc/inittab"
    for vm_file in rcS start-korvello shutdown phases; do
        cp "$VM_HERE/device-vm/$vm_file" "$vm_work/etc/init.d/$vm_file"
    done
    echo 'root:x:0:0:root:/root:/bin/sh' > "$vm_work/etc/passwd"
    printf '%s\nbuild 17\n' "$vm_version" > "$vm_work/etc/version.cfg"
    cp -a "$vm_data" "$vm_work/data"
    [ -z "$vm_opt" ] || cp -a "$vm_opt/." "$vm_work/opt/"
    rm -f "$vm_image"
    # One inode per 4 KiB: room for data folders of many small files.
    mkfs.ext4 -q -F -L system -i 4096 -d "$vm_work" "$vm_image" 256M >/dev/null \
        || vm_die "mkfs.ext4 failed"
    rm -rf "$vm_work"
}

# The FAT file system's place in a medium image: 1 MiB in, where
# partitioning tools put the first partition.
VM_FAT_SECTOR=2048

# vm_fat IMAGE: a medium image's FAT file system as mtools' -i takes it.
vm_fat() {
    echo "$1@@$((VM_FAT_SECTOR * 512))"
}

# vm_le32 N: N as the four bytes of a little-endian number.
vm_le32() {
    for vm_shift in 0 8 16 24; do
        printf "\\$(printf %03o $((($1 >> vm_shift) & 255)))"
    done
}

# vm_medium_image IMAGE SIZE_MIB [FOLDER]: a medium as sticks and cards
# come: a partition table with one FAT32 partition (type 0x0c, FAT32 with
# LBA) from 1 MiB to the end, holding FOLDER's contents. An SD card's
# SIZE_MIB must be a power of two, which QEMU asks of a card.
vm_medium_image() {
    rm -f "$1"
    truncate -s "$2M" "$1" || vm_die "cannot make $1"
    vm_sectors=$(($2 * 2048 - VM_FAT_SECTOR))
    # The first partition entry (not bootable, CHS addresses marked unused
    # as fe ff ff, the type, where it starts, how long it is) and the
    # table's signature 55 aa.
    {
        printf '\000\376\377\377\014\376\377\377'
        vm_le32 "$VM_FAT_SECTOR"
        vm_le32 "$vm_sectors"
        dd if=/dev/zero bs=1 count=48 2>/dev/null
        printf '\125\252'
    } | dd of="$1" bs=1 seek=446 conv=notrunc 2>/dev/null || vm_die "cannot partition $1"
    # The hidden sectors (-h) are those before the partition.
    mkfs.vfat -F 32 -n MEDIUM --offset="$VM_FAT_SECTOR" -h "$VM_FAT_SECTOR" \
        "$1" $((vm_sectors / 2)) >/dev/null || vm_die "mkfs.vfat failed"
    if [ -n "${3:-}" ] && [ -n "$(ls -A "$3")" ]; then
        mcopy -s -i "$(vm_fat "$1")" "$3"/* ::/ || vm_die "mcopy into $1 failed"
    fi
}

# vm_boot ARCH SYSTEM USB SDCARD LOG ARGS...: boots a guest in the
# background and prints QEMU's process id. ARGS go on the kernel command
# line: device_vm.control=N device_vm.device=N device_vm.snum=S ...
# VM_STICK_LIMITS and VM_SYSTEM_LIMITS, when set, are QEMU drive options
# (throttling.bps-write=... and the like) for the stick and the system disk.
vm_boot() {
    vm_arch=$1 vm_system=$2 vm_usb=$3 vm_sdcard=$4 vm_log=$5
    shift 5
    vm_args="device_vm.clock=$(date +%s) device_vm.platform=${VM_PLATFORM:-offscreen} $*"
    set --
    case $vm_arch in
        x86_64)
            set -- qemu-system-x86_64 -machine q35,accel=tcg -cpu max -m 768 \
                -append "console=ttyS0 quiet loglevel=3 panic=1 $vm_args"
            vm_bus=pci
            ;;
        aarch64)
            set -- qemu-system-aarch64 -machine virt,accel=tcg -cpu cortex-a53 -m 1024 \
                -append "console=ttyAMA0 quiet loglevel=3 panic=1 $vm_args"
            vm_bus=device
            ;;
    esac
    set -- "$@" -drive "if=none,id=system,format=raw,file=$vm_system${VM_SYSTEM_LIMITS:+,$VM_SYSTEM_LIMITS}" \
        -device "virtio-blk-$vm_bus,drive=system,serial=system"
    # The stick on an xHCI controller with USB 2.0 ports only (p3=0), so
    # that it runs at high speed as on a USB 2.0 port; its device is
    # "stick", for the monitor to pull it.
    if [ -n "$vm_usb" ]; then
        set -- "$@" -device qemu-xhci,id=xhci,p3=0 -drive "if=none,id=usb,format=raw,file=$vm_usb${VM_STICK_LIMITS:+,$VM_STICK_LIMITS}" \
            -device usb-storage,bus=xhci.0,drive=usb,id=stick,removable=on
    fi
    if [ -n "$vm_sdcard" ]; then
        set -- "$@" -device sdhci-pci,id=sdhci \
            -drive "if=none,id=sdcard,format=raw,file=$vm_sdcard" -device sd-card,drive=sdcard,id=card
    fi
    if [ "${VM_PLATFORM:-}" = linuxfb ]; then
        # A screen of the device's size, and a monitor on two FIFOs for
        # screendump; QEMU opens both read-write, so neither blocks.
        rm -f "$vm_log.monitor.in" "$vm_log.monitor.out"
        mkfifo "$vm_log.monitor.in" "$vm_log.monitor.out"
        set -- "$@" -device VGA,xres=1920,yres=720 -monitor "pipe:$vm_log.monitor"
    elif [ -n "${VM_MONITOR:-}" ]; then
        # The same monitor without the screen, for vm_pull_stick.
        rm -f "$vm_log.monitor.in" "$vm_log.monitor.out"
        mkfifo "$vm_log.monitor.in" "$vm_log.monitor.out"
        set -- "$@" -monitor "pipe:$vm_log.monitor"
    fi
    set -- "$@" -kernel "$VM_CACHE/$vm_arch/vmlinuz" -initrd "$VM_CACHE/$vm_arch/initrd.gz" \
        -fsdev local,id=host,path=/,security_model=none,readonly=on \
        -device "virtio-9p-$vm_bus,fsdev=host,mount_tag=host" \
        -display none -no-reboot -nodefaults -serial "file:$vm_log"
    "$@" > "$vm_log.qemu" 2>&1 &
    echo $!
}

# vm_wait PID SECONDS: waits for a guest to end by itself; kills it and
# fails when it takes longer.
vm_wait() {
    vm_waited=0
    while kill -0 "$1" 2>/dev/null; do
        if [ "$vm_waited" -ge "$2" ]; then
            kill -9 "$1" 2>/dev/null
            wait "$1" 2>/dev/null || true
            return 1
        fi
        sleep 1
        vm_waited=$((vm_waited + 1))
    done
    wait "$1" 2>/dev/null || true
    return 0
}

# vm_screendump PID LOG FILE: the guest's screen (VM_PLATFORM=linuxfb) as
# a PNG. The FIFO is written only while QEMU holds it open, and with a time
# limit, since an open for writing waits for a reader.
vm_screendump() {
    kill -0 "$1" 2>/dev/null || return 1
    timeout 5 sh -c 'echo "screendump $2 -f png" > "$1.monitor.in"' sh "$2" "$3" || return 1
    vm_shot=0
    while [ ! -s "$3" ] && [ "$vm_shot" -lt 50 ]; do
        sleep 0.1
        vm_shot=$((vm_shot + 1))
    done
    [ -s "$3" ]
}

# vm_pull_stick PID LOG: the stick is pulled out of a guest booted with
# VM_MONITOR=yes, at once and whatever it is doing, as an engineer pulls
# it: the guest's kernel sees its USB device disconnect, and the image
# keeps what had reached it.
vm_pull_stick() {
    kill -0 "$1" 2>/dev/null || return 1
    timeout 5 sh -c 'echo "device_del stick" > "$1.monitor.in"' sh "$2"
}

# vm_power_cut PID: the virtual power goes: QEMU ends at once, and what the
# guest's page cache held never reaches its disks.
vm_power_cut() {
    kill -9 "$1" 2>/dev/null
    wait "$1" 2>/dev/null || true
}

# vm_system_dump IMAGE DEST: the system disk's /data, /etc and /opt as a
# power-on would find them, copied to DEST, and the names in its "/" in
# DEST/root-entries. The journal is replayed first, as the kernel's mount
# would; debugfs then reads without the allocation bitmaps (-c), whose
# checksums the kernel may not have written back before the power went.
vm_system_dump() {
    e2fsck -E journal_only -p "$1" >/dev/null 2>&1 || true
    rm -rf "$2"
    mkdir -p "$2"
    debugfs -c -R "rdump /data /etc /opt $2" "$1" >/dev/null 2>&1
    debugfs -c -R "ls -p /" "$1" 2>/dev/null | awk -F/ 'NF > 5 { print $6 }' > "$2/root-entries"
}

# vm_medium_dump IMAGE DEST: the medium's run/ folder copied to DEST.
vm_medium_dump() {
    rm -rf "$2"
    mkdir -p "$2"
    mcopy -s -n -i "$(vm_fat "$1")" ::/run "$2/" 2>/dev/null || true
}

# A host folder's names, types, link targets and file digests, one line
# each: what the suite and the power cuts compare.
manifest() {
    (cd "$1" && find . | LC_ALL=C sort | while IFS= read -r entry; do
        if [ -L "$entry" ]; then
            echo "$entry -> $(readlink "$entry")"
        elif [ -f "$entry" ]; then
            echo "$entry $(md5sum < "$entry" | cut -c 1-32)"
        else
            echo "$entry/"
        fi
    done)
}

same_tree() {
    [ "$(manifest "$1")" = "$(manifest "$2")" ]
}

# The manifest of what an archive holds.
archive_manifest() {
    am_dir=$(mktemp -d)
    tar -xf "$1" -C "$am_dir" 2>/dev/null
    manifest "$am_dir"
    rm -rf "$am_dir"
}

# The digest a side file gives, for the side files the script writes.
side_digest() {
    head -n 1 "$1" | grep -o '[0-9a-f]\{32\}' | head -n 1
}

# ARCHIVE's digest equals the one its side file gives.
matches_side_file() {
    [ -f "${1%.tar}.md5" ] && [ "$(md5sum < "$1" | cut -c 1-32)" = "$(side_digest "${1%.tar}.md5")" ]
}

index_of() {
    base=${1%.tar}
    echo "${base##*-}"
}

# newest_intact FOLDER: the intact archive in a device folder with the
# highest index, as the tool must choose it for a restoration.
newest_intact() {
    best= best_index=0
    for archive in "$1"/*.tar; do
        [ -f "$archive" ] && matches_side_file "$archive" || continue
        index=$(index_of "$archive")
        if [ "$index" -gt "$best_index" ]; then
            best=${archive##*/} best_index=$index
        fi
    done
    echo "$best"
}

# Random numbers from one seeded stream in random_state, which a run sets
# from its seed so that it can be repeated: random_below N sets "random" to
# one below N. Not to be called in $(...), whose subshell would keep the
# stream from moving on.
random_below() {
    random_state=$(awk -v s="$random_state" 'BEGIN { srand(s); print int(rand() * 2147483647) }')
    random=$((random_state % $1))
}

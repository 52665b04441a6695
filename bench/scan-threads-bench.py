#!/usr/bin/env python3
"""Times `olmbench scan` with 1, 2, 4 and 8 threads against `cat` of the same file from the
page cache, in pairs (cat, then the scan), on an archive of many small messages, on one whose
bytes are mostly attachments of about 75 KB, and on one of large attachments (1 to 30 MB), and
prints the median seconds, the median ratio of each pair, the bytes the scan's reads returned
against the file's size, and the peak memory against its budget (64 MB and 300 bytes an item).

    python3 bench/scan-threads-bench.py BUILD_DIR [WORK_DIR] [--messages N] [--rounds R]
        [--threads 1,2,4,8] [--only small,attached,large] [--previous OLMBENCH] [--strace]

--previous: another build's olmbench (an earlier release): each round then runs its scan too,
right after this build's, and it gets a column of its own. --strace: the bytes read are also
counted from the system calls (strace -f), once per binary and thread count, for a binary that
does not count them itself. The archives are made in WORK_DIR (default: a fresh temporary
folder) unless there already."""
import argparse
import json
import os
import random
import re
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import olm_maker  # noqa: E402

maker = olm_maker.load_maker()


def small_archive(path, messages):
    if not os.path.exists(path):
        maker.main([path, '--messages', str(messages), '--attachment-bytes', '0', '--folders', '20',
                    '--contacts', '0', '--events', '0', '--tasks', '0', '--notes', '0'])
    return messages


def attached_archive(path, messages=20000):
    """Messages of a few KB in 9 folders, each with a stored attachment of about 75 KB, and a
    few stores: most archives' bytes are attachments the walk jumps over."""
    if not os.path.exists(path):
        maker.main([path, '--messages', str(messages), '--attachment-bytes', '75000', '--folders', '9'])
    return messages * 2 + 270


def large_archive(path, messages=100):
    """Messages with one attachment each of 1 to 30 MB (give or take a quarter)."""
    if not os.path.exists(path):
        rng = random.Random(5)
        with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED, allowZip64=True) as zf:
            g = maker.Generator(zf, rng)
            g.directory(maker.MESSAGES_ROOT)
            for folder in maker.folder_names(4):
                g.directory(maker.MESSAGES_ROOT + folder + '/')
                g.directory(maker.MESSAGES_ROOT + folder + '/' + maker.ATTACHMENTS_DIR)
                for i in range(messages // 4):
                    g.message(folder, i, rng.randint(1, 30) * 1000000)
    return messages * 2


def cat_seconds(path):
    start = time.perf_counter()
    subprocess.run(['sh', '-c', 'cat "$1" > /dev/null', 'sh', path], check=True)
    return time.perf_counter() - start


def scan(bench, path, threads):
    out = subprocess.run([bench, 'scan', path, '--threads', str(threads)], check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def strace_read_bytes(bench, path, threads):
    """The bytes the scan's pread64 calls returned, all threads counted."""
    with tempfile.NamedTemporaryFile(suffix='.strace') as log:
        subprocess.run(['strace', '-f', '-qq', '-e', 'trace=pread64', '-e', 'signal=none', '-o', log.name,
                        bench, 'scan', path, '--threads', str(threads)], check=True, capture_output=True)
        total = 0
        with open(log.name, errors='replace') as f:
            for line in f:
                m = re.search(r'\) = (\d+)', line)
                if m:
                    total += int(m.group(1))
        return total


def summary(label, size, cats, runs):
    scans = [s['seconds'] for s in runs]
    ratios = [s / c for c, s in zip(cats, scans)]
    read = runs[0].get('read_bytes')
    read_text = f', read {read / size:.3f} of the file' if read is not None else ''
    return (f'{label} scan {statistics.median(scans):.3f} s, ratio {statistics.median(ratios):.2f} '
            f'(pairs {min(ratios):.2f}-{max(ratios):.2f}), peak {max(s["peak_rss_kb"] for s in runs)} KiB'
            f'{read_text}')


def measure(benches, path, items, thread_counts, rounds, use_strace):
    size = os.path.getsize(path)
    cat_seconds(path)  # into the page cache
    cats = {t: [] for t in thread_counts}
    runs = {(b, t): [] for b in benches for t in thread_counts}
    for _ in range(rounds):
        for t in thread_counts:
            # One cat for the pair of scans, the binaries in turn.
            cats[t].append(cat_seconds(path))
            for b in benches:
                runs[(b, t)].append(scan(b, path, t))
    with open('/proc/loadavg') as f:
        load = f.read().split()[0]
    print(f'{os.path.basename(path)}: {size / 1e9:.2f} GB, {items} items, memory budget '
          f'{64 * 1024 + items * 300 / 1024:.0f} KiB, load average {load} at the end')
    for t in thread_counts:
        print(f'  {t} threads: cat {statistics.median(cats[t]):.3f} s, mails {runs[(benches[0], t)][0]["mails"]}')
        for k, b in enumerate(benches):
            label = '    this build:' if k == 0 else '    previous:  '
            line = summary(label, size, cats[t], runs[(b, t)])
            if use_strace:
                line += f', pread64 returned {strace_read_bytes(b, path, t) / size:.3f} of the file'
            print(line)
    return {t: statistics.median(s['seconds'] for s in runs[(benches[0], t)]) for t in thread_counts}


def main():
    p = argparse.ArgumentParser()
    p.add_argument('build')
    p.add_argument('work', nargs='?')
    p.add_argument('--messages', type=int, default=400000)
    p.add_argument('--rounds', type=int, default=7)
    p.add_argument('--threads', default='1,2,4,8')
    p.add_argument('--only', default='small,attached,large')
    p.add_argument('--previous', help="another build's olmbench, timed in turn with this one")
    p.add_argument('--strace', action='store_true')
    args = p.parse_args()
    work = args.work or tempfile.mkdtemp()
    benches = [os.path.join(args.build, 'bench', 'olmbench')] + ([args.previous] if args.previous else [])
    counts = [int(t) for t in args.threads.split(',')]
    only = args.only.split(',')
    if 'small' in only:
        small = os.path.join(work, f'small-{args.messages}.olm')
        medians = measure(benches, small, small_archive(small, args.messages), counts, args.rounds, args.strace)
        if 1 in medians and 4 in medians:
            print(f'  4 threads against 1: {medians[1] / medians[4]:.2f} times faster (target >= 1.8)')
    if 'attached' in only:
        attached = os.path.join(work, 'attachments-20000.olm')
        measure(benches, attached, attached_archive(attached), counts, args.rounds, args.strace)
    if 'large' in only:
        large = os.path.join(work, 'large-attachments.olm')
        measure(benches, large, large_archive(large), [t for t in counts if t in (1, 8)] or counts, args.rounds,
                args.strace)


if __name__ == '__main__':
    main()

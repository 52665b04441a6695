#!/usr/bin/env python3
"""Times `olmbench scan` with 1, 2, 4 and 8 threads against `cat` of the same file from the
page cache, in pairs (cat, then the scan), on an archive of many small messages and on one of
large attachments, and prints the median seconds, the median ratio of each pair and the peak
memory against its budget (64 MB and 300 bytes an item).

    python3 bench/scan-threads-bench.py BUILD_DIR [WORK_DIR] [--messages N] [--rounds R]

The archives are made in WORK_DIR (default: a fresh temporary folder) unless there already."""
import argparse
import json
import os
import random
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


def measure(bench, path, items, thread_counts, rounds):
    cat_seconds(path)  # into the page cache
    pairs = {t: [] for t in thread_counts}
    for _ in range(rounds):
        for t in thread_counts:
            c = cat_seconds(path)
            pairs[t].append((c, scan(bench, path, t)))
    budget = 64 * 1024 + items * 300 / 1024
    print(f'{os.path.basename(path)}: {os.path.getsize(path) / 1e9:.2f} GB, {items} items, '
          f'memory budget {budget:.0f} KiB')
    for t in thread_counts:
        cats = [c for c, _ in pairs[t]]
        scans = [s['seconds'] for _, s in pairs[t]]
        ratios = [s / c for c, s in zip(cats, scans)]
        rss = max(s['peak_rss_kb'] for _, s in pairs[t])
        print(f'  {t} threads: cat {statistics.median(cats):.3f} s, scan {statistics.median(scans):.3f} s, '
              f'ratio {statistics.median(ratios):.2f} (pairs {min(ratios):.2f}-{max(ratios):.2f}), '
              f'peak {rss} KiB, mails {pairs[t][0][1]["mails"]}')
    return {t: statistics.median(s['seconds'] for _, s in pairs[t]) for t in thread_counts}


def main():
    p = argparse.ArgumentParser()
    p.add_argument('build')
    p.add_argument('work', nargs='?')
    p.add_argument('--messages', type=int, default=400000)
    p.add_argument('--rounds', type=int, default=7)
    args = p.parse_args()
    work = args.work or tempfile.mkdtemp()
    bench = os.path.join(args.build, 'bench', 'olmbench')
    counts = [1, 2, 4, 8]
    small = os.path.join(work, f'small-{args.messages}.olm')
    medians = measure(bench, small, small_archive(small, args.messages), counts, args.rounds)
    print(f'  4 threads against 1: {medians[1] / medians[4]:.2f} times faster (target >= 1.8)')
    large = os.path.join(work, 'large-attachments.olm')
    measure(bench, large, large_archive(large), [1, 8], args.rounds)


if __name__ == '__main__':
    main()

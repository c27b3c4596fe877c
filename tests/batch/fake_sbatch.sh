#!/bin/bash
# A stand-in for Slurm's sbatch: records the submission in $FAKE_SBATCH_LOG
# and runs every task of the array here, one after the other, with the
# variables Slurm sets and the output file its "#SBATCH --output" names.
set -u
array=0
while [ $# -gt 0 ]; do
    case $1 in
        --array=*) array=${1#--array=} ;;
        --*=*) ;;
        -*) shift ;;
        *) break ;;
    esac
    shift
done
script=$1
shift
echo "--array=$array $script $*" >> "${FAKE_SBATCH_LOG:?}"
cpus=$(sed -n 's/^#SBATCH --cpus-per-task=\([0-9]*\).*/\1/p' "$script" | head -n 1)
output=$(sed -n 's/^#SBATCH --output=\(.*\)/\1/p' "$script" | head -n 1)
job=$$
IFS=, read -ra parts <<< "${array%%\%*}"
for part in "${parts[@]}"; do
    case $part in
        *-*) indices=$(seq "${part%-*}" "${part#*-}") ;;
        *) indices=$part ;;
    esac
    for i in $indices; do
        out=${output:-slurm-${job}_$i.out}
        out=${out//%a/$i}
        out=${out//%A/$job}
        SLURM_ARRAY_JOB_ID=$job SLURM_ARRAY_TASK_ID=$i SLURM_CPUS_PER_TASK=${cpus:-1} \
            bash "$script" "$@" > "$out" 2>&1
    done
done
echo "Submitted batch job $job"

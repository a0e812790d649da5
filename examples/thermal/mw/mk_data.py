"""LAMMPS data file (atomic, real units) of a one-site .gro from tools/lattice.py: type 1 mW water, type 2 methane."""
import sys
lines=open(sys.argv[1]).read().splitlines(); n=int(lines[1])
at=[]
for l in lines[2:2+n]:
    res=l[5:10].strip(); xyz=[float(l[20+8*k:28+8*k])*10 for k in range(3)]
    at.append((2 if res=="CH4" else 1, xyz))
box=[float(x)*10 for x in lines[2+n].split()[:3]]
with open(sys.argv[2],"w") as f:
    f.write("mW + methane\n\n%d atoms\n2 atom types\n\n"%len(at))
    for k,L in zip("xyz",box): f.write("0.0 %.6f %slo %shi\n"%(L,k,k))
    f.write("\nMasses\n\n1 18.015\n2 16.043\n\nAtoms # atomic\n\n")
    for j,(t,p) in enumerate(at,1): f.write("%d %d %.5f %.5f %.5f\n"%(j,t,*p))

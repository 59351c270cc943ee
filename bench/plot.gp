# Median time of a whole run against payload size, one line per contender, from the report's table.
#   gnuplot -e "table='<table.csv>'; output='<png>'" plot.gp
set datafile separator ","
set key autotitle columnhead
set terminal pngcairo size 900,600 font ",11"
set output output
set title "Whole run under Wine on one core: median over the rounds"
set xlabel "payload (MiB)"
set ylabel "seconds"
set key top left
set grid
set xrange [0:*]
set yrange [0:*]
plot table using 1:2 with linespoints pointtype 7 title "floor (own resources)", \
     table using 1:9 with linespoints pointtype 6 dashtype 2 title "floor (mapped file)", \
     table using 1:3 with linespoints pointtype 5 linewidth 2 title "installer", \
     table using 1:5 with linespoints pointtype 9 title "NSIS, payload stored", \
     table using 1:7 with linespoints pointtype 8 title "NSIS, payload stored, CRCCheck off"

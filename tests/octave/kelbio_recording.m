% kelbio_record: cycles kept across its 64-column blocks and past the
% preallocated count, the rows of the last cycles, and the .mat and CSV files.

%!test
%! r = kelbio_record (100, {'dac1'}, 9);
%! ref = zeros (11, 150);
%! for k = 1:150                                    # two blocks, a partial one, past N
%!   ref(:, k) = [k * 1e-3; -k; (1:9)' + k];
%!   add (r, k * 1e-3, -k, (1:9)' + k);
%! end
%! assert (r.Count, 150);
%! assert (r.Time, ref(1, :));
%! assert (r.Outputs, ref(2, :));
%! assert (r.Read, ref(3:end, :));
%! assert (rows (r, [1 5], 70), ref([1 5], 81:150));  # starts inside a full block
%! assert (rows (r, 2, 0), zeros (1, 0));
%! mat = [tempname() '.mat'];
%! save (r, mat);
%! s = load (mat);
%! assert (s.read, ref(3:end, :));
%! assert (s.output_names, {'dac1'});
%! q = kelbio_record.load (mat);
%! add (q, 1, 2, zeros (9, 1));                       # a loaded record goes on
%! assert (q.Count, 151);
%! assert (q.Read(:, 1:150), ref(3:end, :));
%! assert (q.ReadNames{9}, 'read9');
%! csv = [tempname() '.csv'];
%! save (r, csv);
%! fid = fopen (csv);
%! header = fgetl (fid);
%! fclose (fid);
%! assert (header, 'time,dac1,read1,read2,read3,read4,read5,read6,read7,read8,read9');
%! assert (csvread (csv, 1, 0), ref', 1e-9);
%! delete (mat);
%! delete (csv);

%!error <use kelbio_record> kelbio_record (10)
